#pragma once
// The total size of the listed files, learnt before the user picks a folder:
// one probe per URL, at most five at a time; one file that cannot be probed
// fails the whole check.
//
// Contract: AddUrl, Start and GetTotal come from the application's thread;
// the checker takes the network lock itself around everything that touches
// a connection. The listener (the job manager) hears exactly one of
// OnSizeCheckDone, OnSizeCheckFailed or OnSizeCheckUnreachable per check,
// possibly from inside Start; it must not destroy the checker inside them.

#include "netlib/core/vqCLifeToken.h"
#include "netlib/core/vqSmartPtr.h"
#include "service/CContentLengthCheckSession.h"
#include "service/IContentLengthCheckSessionEventListener.h"
#include "service/IContentLengthCheckerEventListener.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class cpCMutex;

class CContentLengthChecker : public IContentLengthCheckSessionEventListener {
public:
    static constexpr int kMaxRunning = 5;

    CContentLengthChecker(IContentLengthCheckerEventListener* listener, cpCMutex* networkLock);
    ~CContentLengthChecker() override;

    int AddUrl(const char* entry);
    void Start();
    int64_t GetTotal() const { return m_total; }
    // After a failed check: the URL that failed and why ("URL: cause");
    // empty otherwise.
    const std::string& GetFailure() const { return m_failure; }
    size_t SessionCount() const { return m_sessions.size(); }
    int Running() const { return m_running; }

    void OnProbeDone(int index, int64_t length) override;
    void OnProbeFailed(int index, const char* url) override;
    void OnProbeUnreachable(int index) override;

private:
    void StartNext();
    void Reset();
    // Keeps why the session of that index failed, before it is gone.
    void KeepFailure(int index);

    int64_t m_total = 0;
    std::string m_failure;
    int m_next = 0;
    int m_running = 0;
    int m_done = 0;
    std::vector<std::unique_ptr<CContentLengthCheckSession>> m_sessions;
    int64_t m_startTime = 0;
    IContentLengthCheckerEventListener* m_listener;
    vqSmartPtr m_networkLock;
    // Renewed by every reset (and ended by the destructor), so a loop that
    // started probes can tell that a report from inside one of them ended the
    // check under it.
    vqCLifeToken m_life;
};
