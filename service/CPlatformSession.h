#pragma once
// The plain transfer session: downloads the files of one job one after
// another over HTTP or HTTPS into their folders, trying each file's
// alternative URLs in order, retrying and following redirects within fixed
// bounds, resuming a file from the length it already has on disk (Range),
// throttled by the job's mode, and reporting to the plain downloader
// (IPlatFormSessionEventListener.h says when).
//
// Bounds, so that a transfer that cannot succeed ends with OnTransferFailed
// instead of running for ever:
// - kAttemptsPerUrl connections per URL (a refused or timed-out connect, a
//   connection lost before the body was complete, an answer that is retried);
//   then the next alternative. With n alternatives a file gets at most
//   n * kAttemptsPerUrl connections besides those that follow redirects.
// - kMaxRedirects redirects per alternative; a longer chain gives up that
//   alternative. A redirect starts the attempts of its target anew.
// - A connect that does not complete, or a connection that brings no data,
//   within kTimeoutSeconds counts as a failed attempt.
//
// Contract: used on the service thread with the network lock held, by the
// plain downloader, which owns it. The listener may destroy the session from
// inside any of its calls. Destruction detaches from the connection, closes
// it (handing it to the deferred-release collector) and closes the output
// file after writing what is buffered.

#include "netlib/core/vqCString.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwIHttpClientExEventListener.h"
#include "platform/COutputFile.h"
#include "service/CJob.h"
#include "service/IPlatFormSessionEventListener.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class vqIHttpClientExLayer;
class vqIQoSContext;

class CPlatformSession : public nwIHttpClientExEventListener {
public:
    static constexpr int kAttemptsPerUrl = 3;
    static constexpr int kMaxRedirects = 10;
    static constexpr int32_t kTimeoutSeconds = 3;
    // Receive budget per scheduler period by the job's mode.
    static constexpr int32_t kBudgetFast = 104857600; // mode other than 0
    static constexpr int32_t kBudgetSlow = 393216;    // mode 0

    CPlatformSession();
    virtual ~CPlatformSession();
    CPlatformSession(const CPlatformSession&) = delete;
    CPlatformSession& operator=(const CPlatformSession&) = delete;

    void SetListener(IPlatFormSessionEventListener* listener, void* context);
    void SetMode(int mode) { m_mode = mode; }
    // Copies the job's files and starts with the first.
    void Begin(const std::vector<std::unique_ptr<CJobFile>>& files);

    // Bytes of the job on disk: what the opened files already held plus the
    // bytes written since.
    long long GetBytesPresent() const { return m_bytesPresent; }
    // The file being transferred (its size is known once the server has
    // answered), or null.
    const CJobFile* GetCurrentFile() const;
    // The files that received body bytes during this session: their count
    // and, if entries is not null, one report entry of kAgentEntrySize bytes
    // each (service identifier, URL entry cut at 255 bytes, bytes received,
    // 1), appended.
    int32_t ListTransferredFiles(std::vector<unsigned char>* entries) const;

    void OnConnected(int32_t cookie) override;
    void OnResponseHeader(int32_t cookie) override;
    int32_t OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length) override;
    void OnReceiveComplete(int32_t cookie) override;
    void OnSendReady(int32_t cookie) override;
    void OnClosed(int32_t cookie) override;
    void OnConnectTimeout(int32_t cookie) override;
    void OnRecvTimeout(int32_t cookie) override;
    void OnHostUnreach(int32_t cookie) override;

private:
    struct FileCopy {
        CJobFile file;
        // Body bytes written during this session over every connection (the
        // file's bytesDone counts only since its last opening).
        long long transferred = 0;
    };

    void SelectFile(size_t index);
    bool NextAlternative();
    void StartTransfer(bool resetAttempts);
    // Opens the current file's output; false (after the log line) when it
    // cannot be opened.
    bool OpenOutput();
    // Creates the connection and sends the request; false when that failed
    // at once (the attempt is counted, no event will follow).
    bool Connect();
    void DropConnection();
    // Writes what is buffered and closes; false (and the session given up
    // with notice 513) when the disk took less than it was given.
    bool CloseOutput();
    // Forgets what was counted for the current file (its output is empty).
    void RestartFromZero();
    // The connection is gone: the next attempt, the next alternative, or the
    // end with OnTransferFailed.
    void AttemptFailed();
    // An answer that another try of the same URL would not change.
    void GiveUpAlternative();
    void FollowRedirect();
    void FinishFile();
    // Notice 513, then OnTransferFailed.
    void WriteFailed();
    void GiveUp();
    vqIHttpClientExLayer* Layer() const;
    vqIQoSContext* Context() const;
    std::string Header(const char* name) const;

    FileCopy* m_current = nullptr;
    vqSmartPtr m_connection;
    int m_attempts = 0;
    int m_redirects = 0;
    size_t m_fileIndex = 0;
    int m_mode = 1;
    long long m_bytesPresent = 0;
    COutputFile m_output;
    size_t m_alternativeIndex = 0;
    std::string m_currentUrl;
    std::string m_currentPath;
    std::vector<FileCopy> m_copies;
    std::vector<std::string> m_alternatives;
    IPlatFormSessionEventListener* m_listener = nullptr;
    void* m_context = nullptr;
    // Cleared by the destructor: a method that called the listener checks it
    // through its own copy before touching the session again.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
