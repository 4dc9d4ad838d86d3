#pragma once
// What the job downloaders (and, through the engine downloader, the engine
// update) tell the job manager.
//
// Contract: every call comes on the service thread with the network lock held.
// OnEngineUnavailable destroys the engine downloader that calls it: the caller
// must return without touching itself afterwards. The other calls leave the
// caller alive. The listener is not owned by the caller.

class IJobDownloadEventListener {
public:
    // A file of the engine update begins arriving (518); then the bytes of
    // it held so far (519). url names the file in both.
    virtual void OnEngineUpdateBegin(const char* url, unsigned int sizeLow, int sizeHigh) = 0;
    virtual void OnEngineUpdateProgress(const char* url, unsigned int bytesLow, int bytesHigh) = 0;
    virtual void OnEngineUpdateSucceeded() = 0;                                                    // 520
    virtual void OnEngineUpdateFailed() = 0;                                                       // 521
    // Gives up the engine path: running jobs restart on the plain downloader.
    virtual void OnEngineUnavailable() = 0;
    // One job released by the engine restarts on the plain downloader.
    virtual void OnJobFallback(int job) = 0;
    // Which folder could not be reached (events DL_EVENT_ENGINE_PATH_FAILED
    // and DL_EVENT_DOWNLOAD_PATH_FAILED).
    static constexpr int kEngineFolder = 1;
    static constexpr int kDownloadFolder = 2;
    virtual void OnPathAccessFailed(int kind) = 0;
    virtual void OnEngineStatus(int status) = 0; // 530

protected:
    ~IJobDownloadEventListener() = default;
};
