#pragma once
// Brings the engine up to date and starts it for the engine downloader:
// creating a launcher starts the update check (CDownloader); its outcome
// reaches the listener as ILauncherEventListener.h says. A new launcher is
// made for every connection attempt, so each attempt checks again.
//
// Contract: service thread only. The listener is not owned; it may be
// replaced or detached (null) at any time and may destroy the launcher
// inside any of its calls. Destroying the launcher destroys the update.

#include "engine/IDownloaderEventListener.h"

#include <memory>
#include <string>

class CBinaryExecBase;
class CDownloader;
class IGetPath;
class ILauncherEventListener;
class cpCMutex;

class CEngineLauncher : public IDownloaderEventListener {
public:
    // The arguments after the lock go to CDownloader (tests point them at a
    // private engine folder and update server).
    explicit CEngineLauncher(cpCMutex* networkLock, const IGetPath* paths = nullptr, CBinaryExecBase* runner = nullptr,
                             std::string descriptionUrl = std::string());
    virtual ~CEngineLauncher();
    CEngineLauncher(const CEngineLauncher&) = delete;
    CEngineLauncher& operator=(const CEngineLauncher&) = delete;

    void SetListener(ILauncherEventListener* listener) { m_listener = listener; }

    void OnDownloaderOffline() override;
    void OnDownloaderBegin(const char* url, uint32_t sizeLow, uint32_t sizeHigh) override;
    void OnDownloaderProgress(const char* url, uint32_t bytesLow, uint32_t bytesHigh) override;
    void OnDownloaderFinished(int engineStarted, int updateOk, const std::string& newVersion) override;
    void OnDownloaderPathFailed(int kind) override;

private:
    std::unique_ptr<CDownloader> m_downloader;
    ILauncherEventListener* m_listener = nullptr;
};
