#pragma once
// The engine downloader: runs jobs through the download engine, a program of
// its own on this machine reached over TCP on 127.0.0.1 (port 38006, or the
// port in ZDR_ENGINE_PORT). Before it connects, its engine launcher brings
// the engine up to date and starts it; then every held job is handed over
// (options, engine flag, the files in one message or as header, files and
// end) and the engine's reports become the job's size, progress, file-done,
// completion and notice records. When the engine cannot be used the engine
// path is given up (IJobDownloadEventListener::OnEngineUnavailable) and the
// job manager moves the jobs to the plain downloader; a job the engine gives
// up alone moves with notice 518 (OnJobFallback).
//
// It lives here, beside the job downloader base it derives from, and not in
// engine/: engine/ sits below service/ and may not include it.
//
// Contract:
// - Made and destroyed by the job manager (destruction also from inside
//   OnEngineUnavailable, which this object calls as its last act: after it
//   nothing of this object is touched). Every call and event runs on the
//   service thread or under the network lock.
// - Nothing waits without bound: a connection that closes six times in a
//   row without lasting 30 s gives the engine path up; so do held jobs that
//   have waited kReadyBoundSeconds (on the injected clock, counted by the
//   once-a-second tick) for an engine that never became ready, e.g. while
//   the update server stays unreachable, and an engine silent for
//   SilenceSeconds() while it holds jobs (asked for its status after a
//   third of that).
// - Only our own engine takes part: nothing is sent before the listener on
//   the engine's port proves to be a process of this user (the kernel's
//   socket table); a listener of another user, or a peer that speaks no
//   engine protocol, gives the engine path up at once. A file the engine
//   calls done, and every file of a job it calls finished, must be on disk
//   (a regular file of the job's size, when known), or the job moves to the
//   plain path.
// - Owns its launcher and its connection; jobs and the manager are not
//   owned.

#include "engine/ILauncherEventListener.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwICDNLocalClientEventListener.h"
#include "service/CJobDownloader.h"
#include "service/RateMeter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CEngineLauncher;
class cpCMutex;
class vqICDNLocalClientLayer;

class CEngineDownloader : public CJobDownloader, public ILauncherEventListener, public nwICDNLocalClientEventListener {
public:
    // Wall-clock seconds.
    typedef int64_t (*Clock)();
    // Makes the launcher of one connection attempt (it starts the update at
    // once); may answer null (tests play the launcher's events themselves).
    typedef std::unique_ptr<CEngineLauncher> (*LauncherMaker)(cpCMutex* networkLock);
    // The uid owning the peer socket bound to 127.0.0.1:peerPort and
    // connected to our localPort; -1 when none is found.
    typedef long (*OwnerLookup)(uint16_t peerPort, uint16_t localPort);

    static constexpr int kMaxCloses = 6;
    static constexpr int64_t kAttemptResetSeconds = 30;
    static constexpr int64_t kReadyBoundSeconds = 30;
    static constexpr int32_t kConnectTimeoutSeconds = 1;
    // An engine reports every running job once a second and answers a
    // status request at once: this much silence while it holds jobs is a
    // peer that is no engine, or an engine that is stuck.
    static constexpr int64_t kSilenceSeconds = 15;
    // The answer of BeginJob while the network is down: the job stays held
    // and goes to the engine with the next connection.
    static constexpr int kHeldForNetwork = 519;

    // clock, makeLauncher and ownerOf: null take the system clock, a real
    // launcher and the kernel's socket tables.
    CEngineDownloader(IJobDownloadEventListener* manager, cpCMutex* networkLock, Clock clock = nullptr,
                      LauncherMaker makeLauncher = nullptr, OwnerLookup ownerOf = nullptr);
    ~CEngineDownloader() override;
    CEngineDownloader(const CEngineDownloader&) = delete;
    CEngineDownloader& operator=(const CEngineDownloader&) = delete;

    // Stored for every later connection and sent at once while connected;
    // null is the empty identifier.
    void SetServiceId(const char* identifier);

    // The engine's port: ZDR_ENGINE_PORT when it names one, else 38006.
    static uint16_t EnginePort();
    // The silence bound: ZDR_ENGINE_SILENCE_SECONDS (1 to kSilenceSeconds,
    // for tests) when it names one, else kSilenceSeconds.
    static int64_t SilenceSeconds();

    // For tests and diagnostics.
    int LaunchAttempts() const { return m_launchAttempts; }
    bool Connected() const { return m_connection.Get() != nullptr && m_lastConnectTime != 0; }
    size_t RequestCount() const { return m_requests.size(); }

    // ILauncherEventListener
    void OnUpdateBegin(const char* url, uint32_t sizeLow, uint32_t sizeHigh) override;
    void OnUpdateProgress(const char* url, uint32_t bytesLow, uint32_t bytesHigh) override;
    void OnEngineReady() override;
    void OnEngineFailed() override;
    void OnOffline() override;
    void OnPathFailed(int kind) override;

    // nwICDNLocalClientEventListener
    void OnLocalConnected(int32_t cookie) override;
    void OnLocalJobAccepted(const vqLOCALJOBACCEPTED* record, int32_t cookie) override;
    void OnLocalJobRejected(const vqLOCALJOBREJECTED* record, int32_t cookie) override;
    void OnLocalJobProgress(const vqLOCALPROGRESS* record, int32_t cookie) override;
    void OnLocalFileDone(const vqLOCALFILEDONE* record, int32_t cookie) override;
    void OnLocalFileDoneEx(const vqLOCALFILEDONEEX* record, int32_t cookie) override;
    void OnLocalJobFinished(const vqLOCALJOBFINISHED* record, int32_t cookie) override;
    void OnLocalJobError(const vqLOCALJOBERROR* record, int32_t cookie) override;
    void OnLocalNetworkLost(const vqLOCALNETWORKNOTICE* record, int32_t cookie) override;
    void OnLocalNetworkRestored(const vqLOCALNETWORKNOTICE* record, int32_t cookie) override;
    void OnLocalClosed(int32_t cookie) override;
    void OnLocalConnectTimeout(int32_t cookie) override;
    void OnLocalAskResume(int32_t jobNumber) override;
    void OnLocalStatus(int32_t value, int32_t cookie) override;
    void OnLocalProtocolError(int32_t cookie) override;

    // Only a job this downloader holds gets the answer (DL_ERR_NOT_HELD otherwise).
    int HandleResumeAnswer(CJob* job, unsigned char resume, unsigned char applyToAll) override
    {
        return ForwardResume(job, resume, applyToAll);
    }

protected:
    int BeginJob(CJob* job) override;
    void EndJob(CJob* job) override;
    void TickJob(CJob* job) override;
    int AnswerResume(CJob* job, unsigned char resume, unsigned char applyToAll) override;

private:
    // One job handed to the engine.
    struct EngineRequest {
        int32_t taskNumber = -1; // the engine's number, -1 until it accepts
        int32_t jobNumber = 0;
        CJob* job = nullptr;
    };

    void RenewLauncher();
    void DropLauncher();
    void ConnectEngine();
    // Detaches, closes and hands the connection to the collector.
    void ReleaseConnection();
    vqICDNLocalClientLayer* Layer() const;
    int64_t Now() const;
    // Gives the engine path up when held jobs have waited too long for an
    // engine that never became ready; true when it did (this is destroyed).
    bool GiveUpIfNeverReady();
    // Asks a silent engine for its status, and gives the engine path up when
    // it stays silent; true when it did (this is destroyed).
    bool GiveUpIfSilent();
    // Who holds the engine's port. Unless it is ours, the connection is
    // released before anything is sent and the cause logged.
    enum class PortHolder { Ours, Unknown, AnotherUser };
    PortHolder CheckPortHolder();
    // Every message from the engine.
    void Heard();
    // A file the engine calls done is on disk: a regular file of the job,
    // of the job's size when that is known.
    static bool OnDisk(const CJob* job, const char* path);
    // The engine's word on a job cannot be trusted: it leaves the engine
    // (stopped there) for the plain path.
    void MoveToPlainPath(EngineRequest* request);
    void FileDone(const char* path, const char* secondText, const char* source, int32_t jobNumber,
                  int32_t taskNumber);
    void SendJobFiles(CJob* job);
    // Whether every file's folder, name and URL fit the engine's messages.
    static bool FitsEngine(const CJob* job);

    EngineRequest* FindRequest(int32_t jobNumber);
    EngineRequest* FindRequest(int32_t jobNumber, int32_t taskNumber);
    EngineRequest* FindRequest(const CJob* job);
    void RemoveRequest(const EngineRequest* request);

    vqSmartPtr m_networkLock;
    Clock m_clock;
    LauncherMaker m_makeLauncher;
    OwnerLookup m_ownerOf;
    std::unique_ptr<CEngineLauncher> m_launcher;
    vqSmartPtr m_connection;
    int m_launchAttempts = 0;
    int64_t m_lastConnectTime = 0;
    std::string m_serviceId;
    RateMeter m_jobRate;
    RateMeter m_fileRate;
    std::vector<EngineRequest> m_requests;
    // Whether the current launcher said the engine is ready; and since when
    // held jobs have waited without a connection to it (-1: not waiting).
    bool m_engineReady = false;
    int64_t m_waitingSince = -1;
    // When the engine last said anything (the connection's start counts), and
    // how many of our status requests it has yet to answer.
    int64_t m_lastHeard = 0;
    int m_statusAsked = 0;
};
