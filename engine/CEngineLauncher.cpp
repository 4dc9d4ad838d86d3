#include "engine/CEngineLauncher.h"

#include "engine/ActivityLog.h"
#include "engine/CDownloader.h"
#include "engine/ILauncherEventListener.h"

CEngineLauncher::CEngineLauncher(cpCMutex* networkLock, const IGetPath* paths, CBinaryExecBase* runner,
                                 std::string descriptionUrl)
    : m_downloader(std::make_unique<CDownloader>(this, networkLock, paths, runner, std::move(descriptionUrl)))
{
    m_downloader->BeginUpdate();
}

CEngineLauncher::~CEngineLauncher() = default;

void CEngineLauncher::OnDownloaderOffline()
{
    if (m_listener) m_listener->OnOffline();
}

void CEngineLauncher::OnDownloaderBegin(const char* url, uint32_t sizeLow, uint32_t sizeHigh)
{
    if (m_listener) m_listener->OnUpdateBegin(url, sizeLow, sizeHigh);
}

void CEngineLauncher::OnDownloaderProgress(const char* url, uint32_t bytesLow, uint32_t bytesHigh)
{
    if (m_listener) m_listener->OnUpdateProgress(url, bytesLow, bytesHigh);
}

void CEngineLauncher::OnDownloaderFinished(int engineStarted, int updateOk, const std::string& newVersion)
{
    // Only an engine that runs is of use: an update that went well but whose
    // engine ended before it was ready has nothing to offer the jobs.
    const bool success = updateOk && !newVersion.empty() && engineStarted;
    LogWrite(success ? "[MeshpullLib] Patch Success" : "[MeshpullLib] Patch Fail");
    if (!m_listener) return;
    if (engineStarted) {
        m_listener->OnEngineReady();
    } else {
        m_listener->OnEngineFailed();
    }
}

void CEngineLauncher::OnDownloaderPathFailed(int kind)
{
    if (m_listener) m_listener->OnPathFailed(kind);
}
