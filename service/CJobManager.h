#pragma once
// The object behind the service interface: owns the jobs, the two job
// downloaders and the service's other sessions, turns their reports into
// service events, and picks the downloader that runs a job (the engine
// downloader while it exists, the plain downloader once the engine path has
// been given up).
//
// Contract: constructed on the service thread holding the network lock;
// configured and used by the interface functions under the network lock;
// destroyed on the application thread after the service thread has ended
// (or, for a service thread that had to be abandoned, by that thread itself
// once it ends).
// Listener calls come on the service thread with the lock held.

#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/CVyx.h"
#include "service/CContentLengthChecker.h"
#include "service/CDataDownloadSession.h"
#include "service/CEventTarget.h"
#include "service/CJob.h"
#include "service/CJobDownloader.h"
#include "service/IContentLengthCheckerEventListener.h"
#include "service/IDataDownloadSessionEventListener.h"
#include "service/IJobDownloadEventListener.h"

#include <memory>
#include <string>
#include <vector>

class CJobManager : public IJobDownloadEventListener,
                    public IDataDownloadSessionEventListener,
                    public IContentLengthCheckerEventListener {
public:
    explicit CJobManager(cpCMutex* networkLock);
    ~CJobManager() override;

    cpCMutex* NetworkLock() const { return m_networkLock.As<cpCMutex>(); }

    // False when the network runtime did not come up (another one still
    // holds the process's socket and timer managers).
    bool RuntimeStarted() const { return m_network && m_network->IsUp(); }
    // Under the lock: stores the event target and the elevation flag, then
    // makes the engine downloader and the plain downloader. DL_OK.
    int Configure(HWND window, DlEventCallback callback, const void* userData, unsigned char elevate);
    // On the service thread, after its message loop: stops the socket and TLS
    // libraries (the runtime's objects go with the manager).
    void ShutdownRuntime();

    CJob* FindJob(int handle) const;
    CJob* CreateJob(const char* tag, const char* serviceId);
    // Takes the job out of the list, stops it where it is held, destroys it.
    void RemoveJob(CJob* job);
    CJobDownloader* CurrentDownloader() const;
    // Starts the job on the downloader and notes that downloader's path in
    // the job; the downloader's answer.
    int StartJobOn(CJobDownloader* downloader, CJob* job);
    CJobDownloader* OwningDownloader(CJob* job) const;
    CJobDownloader* EngineDownloader() const { return m_engine.get(); }
    // The in-memory fetch, made on first use.
    CDataDownloadSession* FetchSession();
    const CDataDownloadSession* ExistingFetchSession() const { return m_fetch.get(); }
    // The service-level size check, made on first use.
    CContentLengthChecker* SizeChecker();
    CContentLengthChecker* ExistingSizeChecker() const { return m_sizeChecker.get(); }
    CJobDownloader* PlainDownloader() const { return m_plain.get(); }
    // Under the network lock: transfer reports that still wait to be sent or
    // answered (starting a connection for them when none is open).
    bool FlushReports();
    // Under the network lock: the service identifier for the engine, kept
    // and handed to the engine downloader while it exists.
    void SetServiceId(const char* identifier);
    const std::string& ServiceId() const { return m_serviceId; }
    const CEventTarget& Target() const { return m_target; }
    // Under the network lock: the engine update's latest report.
    DlEngineUpdate EngineUpdate() const;
    // An opaque, non-zero parameter for events that name no job.
    int Identity() const { return m_identity; }

    // IJobDownloadEventListener
    void OnEngineUpdateBegin(const char* url, unsigned int sizeLow, int sizeHigh) override;
    void OnEngineUpdateProgress(const char* url, unsigned int bytesLow, int bytesHigh) override;
    void OnEngineUpdateSucceeded() override;
    void OnEngineUpdateFailed() override;
    void OnEngineUnavailable() override;
    void OnJobFallback(int job) override;
    void OnPathAccessFailed(int kind) override;
    void OnEngineStatus(int status) override;

    // IDataDownloadSessionEventListener
    void OnDataReady(const void* body, long long size) override;
    void OnDataFailed(int reason) override;
    void OnDataTick() override;

    // IContentLengthCheckerEventListener
    void OnSizeCheckDone(unsigned int totalLow, int totalHigh) override;
    void OnSizeCheckFailed(const char* url) override;
    void OnSizeCheckUnreachable() override;

private:
    // One file of the engine update, as its transfer reported it.
    struct UpdateFile {
        std::string url;
        long long size = 0;
        long long bytes = 0;
    };
    UpdateFile* FindUpdateFile(const char* url);

    std::unique_ptr<CJobDownloader> m_plain;
    std::unique_ptr<CJobDownloader> m_engine;
    vqSmartPtr m_networkLock;
    std::unique_ptr<CVyx> m_network;
    std::unique_ptr<CDataDownloadSession> m_fetch;
    std::unique_ptr<CContentLengthChecker> m_sizeChecker;
    std::vector<std::unique_ptr<CJob>> m_jobs;
    int m_nextJobNumber = 0;
    std::string m_serviceId;
    CEventTarget m_target;
    int m_identity;
    // The files of the current run of the engine update, in the order they
    // began; the index of the last to report (-1: none). A run that has
    // ended (520, 521) is forgotten when the next one begins.
    std::vector<UpdateFile> m_updateFiles;
    int m_updateLatest = -1;
    bool m_updateEnded = false;
};
