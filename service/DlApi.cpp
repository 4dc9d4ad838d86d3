// The service's flat interface over the one process-wide service object.
//
// Locking rule: every call that reads or changes the job manager's state
// holds the network lock for its whole work (WithManager, WithJob), so it
// never interleaves with the service thread's processing. The size-check
// calls too: the checker also locks by itself, but its total and its
// creation would otherwise race with the service thread (the lock is
// recursive, so nothing changes for the checker).

#include "service/DlApi.h"

#include "netlib/http/UrlCredentials.h"

#include "netlib/core/cpCAutoLock.h"
#include "platform/FileSystem.h"
#include "engine/ActivityLog.h"
#include "service/CDownloadLibThread.h"
#include "service/CJobManager.h"
#include "service/DlTesting.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace {

constexpr DWORD kThreadWaitMs = 3000;
// How long queued transfer reports may still take to go out at the end.
constexpr auto kReportGrace = std::chrono::milliseconds(2000);
constexpr auto kReportPoll = std::chrono::milliseconds(20);

// Written only by DlInitialize and DlFinalize on the application thread.
CDownloadLibThread* g_service = nullptr;
// The value DlGetUserData answers; the job manager keeps its own copy for
// the events it raises.
const void* g_userData = nullptr;

CJobManager* Manager()
{
    return g_service ? g_service->JobManager() : nullptr;
}

// Runs work(manager) under the network lock; DL_ERR_GENERAL without a
// running service.
template <class Work>
int WithManager(Work work)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    return work(*manager);
}

// Runs work(manager, job) under the network lock for the job the handle
// names; DL_ERR_GENERAL without a running service or for an unknown handle.
template <class Work>
int WithJob(int handle, Work work)
{
    return WithManager([&](CJobManager& manager) {
        CJob* job = manager.FindJob(handle);
        return job ? work(manager, *job) : DL_ERR_GENERAL;
    });
}

// The running service's job manager, or null after writing the trace line
// that says what is missing.
CJobManager* TracedManager(const char* noService, const char* noManager)
{
    if (!g_service) {
        DebugTrace(noService);
        return nullptr;
    }
    CJobManager* manager = Manager();
    if (!manager) DebugTrace(noManager);
    return manager;
}

long long CombineSize(unsigned int sizeLow, int sizeHigh)
{
    return static_cast<long long>((static_cast<unsigned long long>(static_cast<unsigned int>(sizeHigh)) << 32) | sizeLow);
}

// Every missing folder along the path is created, the last one included.
bool MakeFolderReachable(const char* folder)
{
    if (!folder || !folder[0]) return false;
    std::string normalized = CJob::NormalizeFolder(folder);
    if (DirectoryExists(normalized)) return true;
    return CreateDirectoryChain(normalized);
}

// A front end that finalizes right after completion must not lose the
// report that completion queued: it gets a bounded time to be sent and
// answered. What is still pending after it is logged by the reporter.
void LetReportsGo()
{
    CJobManager* manager = Manager();
    if (!manager) return;
    const auto deadline = std::chrono::steady_clock::now() + kReportGrace;
    for (;;) {
        bool pending;
        {
            cpCAutoLock lock(manager->NetworkLock());
            pending = manager->FlushReports();
        }
        if (!pending || std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(kReportPoll);
    }
}

} // namespace

int DlInitialize(HWND window, DlEventCallback callback, const void* userData)
{
    return DlInitialize(window, callback, userData, 1);
}

int DlInitialize(HWND window, DlEventCallback callback, const void* userData, unsigned char elevate)
{
    if (g_service) return DL_ERR_RUNNING;
    // A service thread that an earlier DlFinalize had to abandon still holds
    // the process's network runtime; a service started beside it would have
    // no sockets and no timers.
    if (!CDownloadLibThread::WaitForAbandoned(kThreadWaitMs)) {
        LogPrintf("[MeshpullLib] Initialize Failed : %d", DL_ERR_GENERAL);
        return DL_ERR_GENERAL;
    }
    g_service = new CDownloadLibThread();
    // Shared with the thread, which may signal it after a timed-out wait.
    auto startup = std::make_shared<CAutoResetEvent>();
    int result = DL_ERR_GENERAL;
    if (g_service->Start(startup) && startup->Wait(kThreadWaitMs)) {
        if (CJobManager* manager = Manager()) result = manager->Configure(window, callback, userData, elevate);
    }
    g_userData = userData;
    if (result == DL_OK) LogWrite("[MeshpullLib] Initialize");
    else LogPrintf("[MeshpullLib] Initialize Failed : %d", result);
    return result;
}

int DlFinalize()
{
    LogWrite("[MeshpullLib] Finalize Begin");
    if (g_service) {
        LetReportsGo();
        const bool ended = g_service->Stop(kThreadWaitMs);
        // No forced termination here: a thread that does not end is left
        // alive with everything it may still touch, instead of freed under it.
        if (!ended) LogWrite("[MeshpullLib] Force TerminateThread");
        LogWrite("[MeshpullLib] Destroy JobManager");
        if (ended || !g_service->Abandon()) delete g_service;
    }
    g_service = nullptr;
    g_userData = nullptr;
    LogWrite("[MeshpullLib] Finalize End");
    return DL_OK;
}

const void* DlGetUserData()
{
    return g_userData;
}

int DlFetchData(const char* url)
{
    if (!TracedManager("[MeshpullLib_D] 0x00A0", "[MeshpullLib_D] 0x00A1")) return DL_ERR_GENERAL;
    return WithManager([&](CJobManager& manager) {
        manager.FetchSession()->Fetch(url);
        return DL_OK;
    });
}

int DlGetFetchedSize(long long* size)
{
    return WithManager([&](CJobManager& manager) {
        const CDataDownloadSession* session = manager.ExistingFetchSession();
        return session ? session->GetSize(size) : DL_ERR_GENERAL;
    });
}

int DlGetFetchedData(DlDataBuffer* buffer)
{
    return WithManager([&](CJobManager& manager) {
        const CDataDownloadSession* session = manager.ExistingFetchSession();
        return session ? session->GetData(buffer) : DL_ERR_GENERAL;
    });
}

namespace {
int CopyFailure(const std::string& failure, char* text, int capacity)
{
    if (failure.empty() || !text || capacity <= 0) return DL_ERR_GENERAL;
    const std::string shown = HideUrlCredentials(failure);
    const size_t length = std::min(shown.size(), static_cast<size_t>(capacity) - 1);
    memcpy(text, shown.data(), length);
    text[length] = '\0';
    return DL_OK;
}
} // namespace

int DlGetFetchFailure(char* text, int capacity)
{
    return WithManager([&](CJobManager& manager) {
        const CDataDownloadSession* session = manager.ExistingFetchSession();
        return session ? CopyFailure(session->GetFailure(), text, capacity) : DL_ERR_GENERAL;
    });
}

int DlGetSizeCheckFailure(char* text, int capacity)
{
    return WithManager([&](CJobManager& manager) {
        const CContentLengthChecker* checker = manager.ExistingSizeChecker();
        return checker ? CopyFailure(checker->GetFailure(), text, capacity) : DL_ERR_GENERAL;
    });
}

int DlAddSizeCheckUrl(const char* url)
{
    if (!TracedManager("[MeshpullLib_D] 0x00B1", "[MeshpullLib_D] 0x00B2")) return DL_ERR_GENERAL;
    return WithManager([&](CJobManager& manager) { return manager.SizeChecker()->AddUrl(url); });
}

int DlStartSizeCheck()
{
    if (!TracedManager("[MeshpullLib_D] 0x0008", "[MeshpullLib_D] 0x0007")) return DL_ERR_GENERAL;
    return WithManager([](CJobManager& manager) {
        CContentLengthChecker* checker = manager.ExistingSizeChecker();
        if (!checker) {
            DebugTrace("[MeshpullLib_D] 0x0003");
            return DL_ERR_GENERAL;
        }
        checker->Start();
        return DL_OK;
    });
}

int DlGetSizeCheckTotal(long long* total)
{
    return WithManager([&](CJobManager& manager) {
        const CContentLengthChecker* checker = manager.ExistingSizeChecker();
        if (!checker) return DL_ERR_GENERAL;
        if (total) *total = checker->GetTotal();
        return DL_OK;
    });
}

int DlSetServiceId(const char* id)
{
    return WithManager([&](CJobManager& manager) {
        manager.SetServiceId(id);
        return DL_OK;
    });
}

int DlCreateJob(int* job, const char* tag, const char* serviceId)
{
    if (!job) return DL_ERR_GENERAL;
    return WithManager([&](CJobManager& manager) {
        if (*job != 0 && manager.FindJob(*job)) return DL_ERR_GENERAL;
        *job = manager.CreateJob(tag, serviceId)->Handle();
        return DL_OK;
    });
}

int DlSetJobEngineFlag(int job)
{
    return WithJob(job, [](CJobManager&, CJob& found) {
        found.SetEngineFlag();
        return DL_OK;
    });
}

int DlAddJobFile(int job, const char* url, const char* folder, const char* name, unsigned int sizeLow, int sizeHigh,
                 int flagA)
{
    return DlAddJobFile(job, url, folder, name, sizeLow, sizeHigh, flagA, 0);
}

int DlAddJobFile(int job, const char* url, const char* folder, const char* name, unsigned int sizeLow, int sizeHigh,
                 int flagA, int flagB)
{
    // -1 means unknown; any other size must be positive.
    const long long size = CombineSize(sizeLow, sizeHigh);
    if (size != -1 && size <= 0) return DL_ERR_SIZE;
    return WithJob(job, [&](CJobManager& manager, CJob& found) {
        if (!MakeFolderReachable(folder)) {
            manager.OnPathAccessFailed(IJobDownloadEventListener::kDownloadFolder);
            return DL_ERR_FOLDER;
        }
        return found.AddFile(url, folder, name, size, flagA, flagB);
    });
}

int DlStartJob(int job, unsigned char mode)
{
    return WithJob(job, [&](CJobManager& manager, CJob& found) {
        if (found.Files().empty()) return DL_ERR_GENERAL;
        found.SetMode(mode);
        CJobDownloader* downloader = manager.CurrentDownloader();
        return downloader ? manager.StartJobOn(downloader, &found) : DL_ERR_GENERAL;
    });
}

int DlStopJob(int job)
{
    return WithJob(job, [](CJobManager& manager, CJob& found) {
        CJobDownloader* owner = manager.OwningDownloader(&found);
        return owner ? owner->StopJob(&found) : DL_ERR_GENERAL;
    });
}

int DlStopJob(int job, int)
{
    return DlStopJob(job);
}

int DlRemoveJob(int job)
{
    return WithJob(job, [](CJobManager& manager, CJob& found) {
        manager.RemoveJob(&found);
        return DL_OK;
    });
}

int DlAnswerResume(int job, unsigned char resume, unsigned char applyToAll)
{
    return WithJob(job, [&](CJobManager& manager, CJob& found) {
        CJobDownloader* downloader = manager.CurrentDownloader();
        return downloader ? downloader->HandleResumeAnswer(&found, resume, applyToAll) : DL_ERR_GENERAL;
    });
}

int DlGetJobRemaining(int job, long long* remaining)
{
    if (!Manager()) return DL_ERR_GENERAL;
    DlProgress progress{};
    WithJob(job, [&](CJobManager&, CJob& found) {
        progress = found.Progress();
        return DL_OK;
    });
    if (progress.totalBytes != 0) {
        if (remaining) *remaining = progress.totalBytes - progress.bytesPresent;
        return DL_OK;
    }
    return DlGetSizeCheckTotal(remaining);
}

int DlGetJobNoticeSize(int job, int* size)
{
    return WithJob(job, [&](CJobManager&, CJob& found) {
        const int bytes = found.NoticeSize();
        if (size) *size = bytes;
        return DL_OK;
    });
}

int DlPopJobNotice(int job, DlNotice* notice)
{
    if (!notice) return DL_ERR_GENERAL;
    return WithJob(job, [&](CJobManager&, CJob& found) { return found.PopNotice(notice); });
}

int DlPopJobFileDone(int job, DlFileDone* record)
{
    if (!record) return DL_ERR_GENERAL;
    return WithJob(job, [&](CJobManager&, CJob& found) {
        found.PopFileDone(record);
        return DL_OK;
    });
}

int DlGetJobProgress(int job, DlProgress* record)
{
    if (!record) return DL_ERR_GENERAL;
    return WithJob(job, [&](CJobManager&, CJob& found) {
        *record = found.Progress();
        return DL_OK;
    });
}

int DlGetJobSizeInfo(int job, DlSizeInfo* record)
{
    if (!record) return DL_ERR_GENERAL;
    return WithJob(job, [&](CJobManager&, CJob& found) {
        found.TakeSizeInfo(record);
        return DL_OK;
    });
}

int DlGetJobResult(int job, DlJobResult* record)
{
    if (!record) return DL_ERR_GENERAL;
    return WithJob(job, [&](CJobManager&, CJob& found) {
        found.TakeResult(record);
        return DL_OK;
    });
}

cpCMutex* DlNetworkLockForTesting()
{
    CJobManager* manager = Manager();
    return manager ? manager->NetworkLock() : nullptr;
}

int DlGetEngineUpdate(DlEngineUpdate* record)
{
    if (!record) return DL_ERR_GENERAL;
    return WithManager([&](CJobManager& manager) {
        *record = manager.EngineUpdate();
        return DL_OK;
    });
}

int DlGetJobPath(int job, int* path)
{
    if (!path) return DL_ERR_GENERAL;
    return WithJob(job, [&](CJobManager& manager, CJob& found) {
        CJobDownloader* owner = manager.OwningDownloader(&found);
        *path = !owner ? found.LastPath() : owner == manager.EngineDownloader() ? DL_PATH_ENGINE : DL_PATH_PLAIN;
        return DL_OK;
    });
}
