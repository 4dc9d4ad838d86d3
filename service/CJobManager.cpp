#include "service/CJobManager.h"

#include "service/CEngineDownloader.h"
#include "service/CPlatFormDownloader.h"

#include "engine/ElevationFlag.h"
#include "netlib/core/cpCAutoLock.h"
#include "platform/MessageLoop.h"
#include "engine/ActivityLog.h"
#include "service/DownloaderFactory.h"

#include <algorithm>
#include <cstring>
#include <atomic>

namespace {
// Job handles are never reused within a process, so a stale handle is simply
// unknown (DL_ERR_GENERAL) instead of naming a newer job.
std::atomic<int> g_nextJobHandle{0x100};
std::atomic<int> g_nextIdentity{1};
} // namespace

CJobManager::CJobManager(cpCMutex* networkLock)
    : m_networkLock(networkLock), m_network(std::make_unique<CVyx>(networkLock)), m_identity(g_nextIdentity.fetch_add(1))
{
}

CJobManager::~CJobManager()
{
    cpCMutex* lock = NetworkLock();
    if (lock) lock->Lock();
    m_jobs.clear();
    m_engine.reset();
    m_plain.reset();
    m_fetch.reset();
    m_sizeChecker.reset();
    m_network.reset();
    if (lock) lock->Unlock();
    m_networkLock.Assign(nullptr);
}

int CJobManager::Configure(HWND window, DlEventCallback callback, const void* userData, unsigned char elevate)
{
    cpCAutoLock guard(NetworkLock());
    m_target.window = window;
    m_target.callback = callback;
    m_target.userData = userData;
    SetElevationFlag(elevate);
    m_engine = CreateEngineDownloader(this, NetworkLock());
    m_plain = CreatePlainDownloader(this, NetworkLock());
    return DL_OK;
}

void CJobManager::ShutdownRuntime()
{
    cpCAutoLock guard(NetworkLock());
    if (m_network) m_network->Shutdown();
}

CDataDownloadSession* CJobManager::FetchSession()
{
    if (!m_fetch) m_fetch = std::make_unique<CDataDownloadSession>(this);
    return m_fetch.get();
}

CContentLengthChecker* CJobManager::SizeChecker()
{
    if (!m_sizeChecker) m_sizeChecker = std::make_unique<CContentLengthChecker>(this, NetworkLock());
    return m_sizeChecker.get();
}

CJob* CJobManager::FindJob(int handle) const
{
    for (const auto& job : m_jobs)
        if (job->Handle() == handle) return job.get();
    return nullptr;
}

CJob* CJobManager::CreateJob(const char* tag, const char* serviceId)
{
    int handle = g_nextJobHandle.fetch_add(1);
    m_jobs.push_back(std::make_unique<CJob>(handle, m_nextJobNumber++, tag, serviceId, m_target));
    return m_jobs.back().get();
}

void CJobManager::RemoveJob(CJob* job)
{
    auto it = std::find_if(m_jobs.begin(), m_jobs.end(), [job](const auto& held) { return held.get() == job; });
    if (it == m_jobs.end()) return;
    std::unique_ptr<CJob> owned = std::move(*it);
    m_jobs.erase(it);
    if (CJobDownloader* owner = OwningDownloader(job)) owner->StopJob(job);
}

CJobDownloader* CJobManager::CurrentDownloader() const
{
    return m_engine ? m_engine.get() : m_plain.get();
}

CJobDownloader* CJobManager::OwningDownloader(CJob* job) const
{
    if (m_engine && m_engine->Holds(job, false)) return m_engine.get();
    if (m_plain && m_plain->Holds(job, false)) return m_plain.get();
    return nullptr;
}

CJobManager::UpdateFile* CJobManager::FindUpdateFile(const char* url)
{
    for (UpdateFile& file : m_updateFiles)
        if (file.url == url) return &file;
    return nullptr;
}

void CJobManager::OnEngineUpdateBegin(const char* url, unsigned int sizeLow, int sizeHigh)
{
    if (m_updateEnded) {
        m_updateFiles.clear();
        m_updateLatest = -1;
        m_updateEnded = false;
    }
    const std::string name = url ? url : "";
    UpdateFile* file = FindUpdateFile(name.c_str());
    if (!file) {
        m_updateFiles.push_back(UpdateFile{name});
        file = &m_updateFiles.back();
    }
    // A file tried again starts over.
    file->size = static_cast<long long>(static_cast<unsigned long long>(static_cast<unsigned int>(sizeHigh)) << 32 | sizeLow);
    file->bytes = 0;
    m_updateLatest = static_cast<int>(file - m_updateFiles.data());
    m_target.Raise(DL_EVENT_UPDATE_BEGIN, 0);
}

void CJobManager::OnEngineUpdateProgress(const char* url, unsigned int bytesLow, int bytesHigh)
{
    if (UpdateFile* file = FindUpdateFile(url ? url : "")) {
        file->bytes = static_cast<long long>(static_cast<unsigned long long>(static_cast<unsigned int>(bytesHigh)) << 32 | bytesLow);
        m_updateLatest = static_cast<int>(file - m_updateFiles.data());
    }
    m_target.Raise(DL_EVENT_UPDATE_PROGRESS, 0);
}

void CJobManager::OnEngineUpdateSucceeded()
{
    m_updateEnded = true;
    m_target.Raise(DL_EVENT_UPDATE_SUCCEEDED, 0);
}

void CJobManager::OnEngineUpdateFailed()
{
    m_updateEnded = true;
    m_target.Raise(DL_EVENT_UPDATE_FAILED, 0);
}

DlEngineUpdate CJobManager::EngineUpdate() const
{
    DlEngineUpdate record{};
    if (m_updateLatest < 0) return record;
    const UpdateFile& file = m_updateFiles[static_cast<size_t>(m_updateLatest)];
    record.fileCount = static_cast<int>(m_updateFiles.size());
    record.fileNumber = m_updateLatest + 1;
    record.fileSize = file.size;
    record.fileBytes = file.bytes;
    const size_t slash = file.url.find_last_of('/');
    const std::string name = slash == std::string::npos ? file.url : file.url.substr(slash + 1);
    const size_t length = std::min(name.size(), sizeof record.fileName - 1);
    memcpy(record.fileName, name.data(), length);
    return record;
}

void CJobManager::OnEngineUnavailable()
{
    cpCAutoLock guard(NetworkLock());
    m_engine.reset();
    if (!m_plain) return;
    for (const auto& job : m_jobs) {
        if (job->State() == JobState::Running && !m_plain->Holds(job.get(), false)) StartJobOn(m_plain.get(), job.get());
    }
}

void CJobManager::OnJobFallback(int handle)
{
    cpCAutoLock guard(NetworkLock());
    CJob* job = FindJob(handle);
    if (job && m_plain) StartJobOn(m_plain.get(), job);
}

int CJobManager::StartJobOn(CJobDownloader* downloader, CJob* job)
{
    const int result = downloader->StartJob(job);
    if (result != DL_ERR_ALREADY_RUNNING) job->SetLastPath(downloader == m_engine.get() ? DL_PATH_ENGINE : DL_PATH_PLAIN);
    return result;
}

void CJobManager::OnPathAccessFailed(int kind)
{
    int code;
    const char* line;
    if (kind == kEngineFolder) {
        code = DL_EVENT_ENGINE_PATH_FAILED;
        line = "[MeshpullLib] engine path access failed";
    } else if (kind == kDownloadFolder) {
        code = DL_EVENT_DOWNLOAD_PATH_FAILED;
        line = "[MeshpullLib] download path access failed";
    } else {
        return;
    }
    // Logged also without a window: the command-line front end has none.
    LogWrite(line);
    if (m_target.window) {
        PostMessage(m_target.window, WM_DL_EVENT, static_cast<WPARAM>(code), static_cast<LPARAM>(m_identity));
    }
    if (m_target.callback) m_target.callback(code, m_identity, m_target.userData);
}

void CJobManager::OnEngineStatus(int)
{
    m_target.Raise(DL_EVENT_ENGINE_STATUS, 0);
}

void CJobManager::OnDataReady(const void*, long long)
{
    m_target.Raise(DL_EVENT_FETCH_DONE, 0);
}

void CJobManager::OnDataFailed(int)
{
    m_target.Raise(DL_EVENT_FETCH_FAILED, 0);
}

void CJobManager::OnDataTick()
{
    m_target.Raise(DL_EVENT_FETCH_TICK, 0);
}

void CJobManager::OnSizeCheckDone(unsigned int, int)
{
    m_target.Raise(DL_EVENT_SIZE_CHECK_DONE, 0);
}

void CJobManager::OnSizeCheckFailed(const char*)
{
    DebugTrace("[MeshpullLib_D] File Size Check Failed. 0x0011");
    m_target.Raise(DL_EVENT_SIZE_CHECK_FAILED, 0);
}

void CJobManager::OnSizeCheckUnreachable()
{
    DebugTrace("[MeshpullLib_D] File Size Check Failed. 0x0012");
    m_target.Raise(DL_EVENT_SIZE_CHECK_FAILED, 0);
}

void CJobManager::SetServiceId(const char* identifier)
{
    m_serviceId = identifier ? identifier : "";
    if (auto* engine = dynamic_cast<CEngineDownloader*>(m_engine.get())) engine->SetServiceId(m_serviceId.c_str());
}

bool CJobManager::FlushReports()
{
    auto* plain = dynamic_cast<CPlatFormDownloader*>(m_plain.get());
    if (!plain) return false;
    plain->FlushReports();
    return plain->ReportsPending();
}
