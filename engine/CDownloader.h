#pragma once
// The engine update: fetches the signed update description, lets the update
// file list build the records of what is outdated, fetches those side by
// side (each verified and unpacked by the list), then runs the engine and
// tells its launcher how it went.
//
// Sessions: every record with an attempt left gets a session of its own
// (one is created when none is idle); a session that failed is destroyed,
// one that completed its record as well. An unreachable server pauses the
// update: attempts stop counting and a 1000 ms timer retries until a
// transfer connects. A refusal or a name that does not resolve is answered
// at once, so waiting long on it only keeps the jobs waiting: after
// kUnreachableAnswers such answers in a row without a connection the update
// is given up (not ok) and ends as usual, running the engine if one is
// installed.
//
// The description is fetched with its signature (kSignatureFileSuffix
// beside it) as the description record's first stage; a description whose
// signature cannot be fetched within the record's attempts is rejected
// (code 3) like one whose signature does not match. Any record dropped after
// its last failed transfer makes the update not ok (its error code is
// recorded), so a file that was never installed is never a success.
//
// Contract:
// - Service thread only, with the network lock (handed in) held around
//   every step; session events arrive from the network dispatch, the retry
//   tick from the timer manager.
// - IDownloaderEventListener.h says what the listener hears and when. After
//   OnDownloaderFinished or OnDownloaderPathFailed the downloader is done:
//   events of sessions still running are dropped.
// - The listener, the path provider and the runner are not owned and must
//   outlive the downloader. Destruction stops everything at once.

#include "engine/CDownloadFileList.h"
#include "engine/CDownloadSession.h"
#include "engine/CUpdateDescriptionHandler.h"
#include "engine/CUpdateResult.h"
#include "engine/IDownloadSessionEventListener.h"
#include "netlib/core/vqCLifeToken.h"
#include "netlib/core/vqSmartPtr.h"

#include <memory>
#include <string>
#include <vector>

class CBinaryExecBase;
class IDownloaderEventListener;
class IGetPath;
class cpCMutex;

class CDownloader : public IDownloadSessionEventListener {
public:
    static constexpr uint32_t kRetryPeriodMs = 1000;
    // About five seconds of one-second retries.
    static constexpr int kUnreachableAnswers = 6;

    // descriptionUrl: empty takes UpdateDescriptionUrl(). paths and runner:
    // null take the process-wide ones.
    CDownloader(IDownloaderEventListener* listener, cpCMutex* networkLock, const IGetPath* paths = nullptr,
                CBinaryExecBase* runner = nullptr, std::string descriptionUrl = std::string());
    virtual ~CDownloader();
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    // Fetches the description; everything else follows from its events.
    void BeginUpdate();

    void OnSessionConnected(CDownloadSession* session) override;
    void OnSessionDone(CDownloadSession* session, const SessionResult& result) override;
    void OnSessionError(CDownloadSession* session, int code) override;
    void OnSessionBegin(CDownloadSession* session, const char* url, int64_t size) override;
    void OnSessionProgress(CDownloadSession* session, const char* url, int64_t bytes) override;

    size_t GetSessionCount() const { return m_sessions.size(); }
    bool IsPaused() const { return m_retryTimer.Get() != nullptr; }

private:
    // Claims the next record and starts it on an idle or a new session;
    // finishes the update when no record is left. May destroy this object
    // (through FinishUpdate): nothing may follow a call to it.
    void StartNextTransfer();
    // One StartNextTransfer per record; same rule as StartNextTransfer.
    void StartAllTransfers();
    // Runs the engine and tells the listener; the downloader's last act.
    void FinishUpdate();
    void PauseForNetwork();
    // Ends the update as not ok after the server stayed unreachable.
    void GiveUpUnreachable(const std::string& url);
    static void OnRetryTick(void* self);
    CDownloadSession* IdleOrNewSession();
    void RemoveSession(CDownloadSession* session);

    IDownloaderEventListener* m_listener;
    const IGetPath* m_paths;
    CBinaryExecBase* m_runner;
    std::string m_descriptionUrl;
    vqSmartPtr m_networkLock;
    CUpdateDescriptionHandler m_handler;
    CDownloadFileList m_list;
    CUpdateResult m_result;
    std::vector<std::unique_ptr<CDownloadSession>> m_sessions;
    vqSmartPtr m_retryTimer;
    // Unreachable answers since the last transfer connected.
    int m_unreachableAnswers = 0;
    bool m_finished = false;
    // Lets a loop notice that a call inside it destroyed this object.
    vqCLifeToken m_life;
};
