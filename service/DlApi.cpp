// The service's flat interface over the one process-wide service object.

#include "service/DlApi.h"

#include "netlib/core/cpCAutoLock.h"
#include "platform/FileSystem.h"
#include "service/ActivityLog.h"
#include "service/CDownloadLibThread.h"
#include "service/CJobManager.h"
#include "service/DlTesting.h"

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
const void* g_userData = nullptr;

CJobManager* Manager()
{
    return g_service ? g_service->JobManager() : nullptr;
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
    g_service = new CDownloadLibThread();
    // Shared with the thread, which may signal it after a timed-out wait.
    auto startup = std::make_shared<CAutoResetEvent>();
    CDownloadLibThread::SetRunning(true);
    int result = DL_ERR_GENERAL;
    if (g_service->Start(startup) && startup->Wait(kThreadWaitMs)) {
        if (CJobManager* manager = Manager()) {
            g_service->SetUserData(userData);
            result = manager->Configure(window, callback, userData, elevate);
        }
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
        CDownloadLibThread::SetRunning(false);
        if (g_service->Stop(kThreadWaitMs)) {
            LogWrite("[MeshpullLib] Destroy JobManager");
            delete g_service;
        } else {
            // No forced termination here: the thread and everything it may
            // still touch are left alive instead of freed under it.
            LogWrite("[MeshpullLib] Force TerminateThread");
            LogWrite("[MeshpullLib] Destroy JobManager");
            g_service->Abandon();
        }
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
    if (!g_service) {
        DebugTrace("[MeshpullLib_D] 0x00A0");
        return DL_ERR_GENERAL;
    }
    CJobManager* manager = Manager();
    if (!manager) {
        DebugTrace("[MeshpullLib_D] 0x00A1");
        return DL_ERR_GENERAL;
    }
    cpCAutoLock guard(manager->NetworkLock());
    manager->FetchSession()->Fetch(url);
    return DL_OK;
}

int DlGetFetchedSize(long long* size)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    const CDataDownloadSession* session = manager->ExistingFetchSession();
    return session ? session->GetSize(size) : DL_ERR_GENERAL;
}

int DlGetFetchedData(DlDataBuffer* buffer)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    const CDataDownloadSession* session = manager->ExistingFetchSession();
    return session ? session->GetData(buffer) : DL_ERR_GENERAL;
}

int DlAddSizeCheckUrl(const char* url)
{
    if (!g_service) {
        DebugTrace("[MeshpullLib_D] 0x00B1");
        return DL_ERR_GENERAL;
    }
    CJobManager* manager = Manager();
    if (!manager) {
        DebugTrace("[MeshpullLib_D] 0x00B2");
        return DL_ERR_GENERAL;
    }
    return manager->SizeChecker()->AddUrl(url);
}

int DlStartSizeCheck()
{
    if (!g_service) {
        DebugTrace("[MeshpullLib_D] 0x0008");
        return DL_ERR_GENERAL;
    }
    CJobManager* manager = Manager();
    if (!manager) {
        DebugTrace("[MeshpullLib_D] 0x0007");
        return DL_ERR_GENERAL;
    }
    CContentLengthChecker* checker = manager->ExistingSizeChecker();
    if (!checker) {
        DebugTrace("[MeshpullLib_D] 0x0003");
        return DL_ERR_GENERAL;
    }
    checker->Start();
    return DL_OK;
}

int DlGetSizeCheckTotal(long long* total)
{
    CJobManager* manager = Manager();
    CContentLengthChecker* checker = manager ? manager->ExistingSizeChecker() : nullptr;
    if (!checker) return DL_ERR_GENERAL;
    if (total) *total = checker->GetTotal();
    return DL_OK;
}

int DlSetServiceId(const char* id)
{
    (void)id;
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    return DL_OK; // handed to the engine downloader once it exists
}

int DlCreateJob(int* job, const char* tag, const char* serviceId)
{
    CJobManager* manager = Manager();
    if (!manager || !job) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    if (*job != 0 && manager->FindJob(*job)) return DL_ERR_GENERAL;
    *job = manager->CreateJob(tag, serviceId)->Handle();
    return DL_OK;
}

int DlSetJobEngineFlag(int job)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found) return DL_ERR_GENERAL;
    found->SetEngineFlag();
    return DL_OK;
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
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found) return DL_ERR_GENERAL;
    if (!MakeFolderReachable(folder)) {
        manager->OnPathAccessFailed(2);
        return DL_ERR_FOLDER;
    }
    return found->AddFile(url, folder, name, size, flagA, flagB);
}

int DlStartJob(int job, unsigned char mode)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found || found->Files().empty()) return DL_ERR_GENERAL;
    found->SetMode(mode);
    CJobDownloader* downloader = manager->CurrentDownloader();
    if (!downloader) return DL_ERR_GENERAL;
    return downloader->StartJob(found);
}

int DlStopJob(int job)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found) return DL_ERR_GENERAL;
    CJobDownloader* owner = manager->OwningDownloader(found);
    if (!owner) return DL_ERR_GENERAL;
    return owner->StopJob(found);
}

int DlStopJob(int job, int)
{
    return DlStopJob(job);
}

int DlRemoveJob(int job)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found) return DL_ERR_GENERAL;
    manager->RemoveJob(found);
    return DL_OK;
}

int DlAnswerResume(int job, unsigned char resume, unsigned char applyToAll)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found) return DL_ERR_GENERAL;
    CJobDownloader* downloader = manager->CurrentDownloader();
    if (!downloader) return DL_ERR_GENERAL;
    return downloader->HandleResumeAnswer(found, resume, applyToAll);
}

int DlGetJobRemaining(int job, long long* remaining)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    DlProgress progress{};
    {
        cpCAutoLock guard(manager->NetworkLock());
        if (CJob* found = manager->FindJob(job)) progress = found->Progress();
    }
    if (progress.totalBytes != 0) {
        if (remaining) *remaining = progress.totalBytes - progress.bytesPresent;
        return DL_OK;
    }
    return DlGetSizeCheckTotal(remaining);
}

int DlGetJobNoticeSize(int job, int* size)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found) return DL_ERR_GENERAL;
    if (size) *size = found->NoticeSize();
    return DL_OK;
}

int DlPopJobNotice(int job, DlNotice* notice)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found || !notice) return DL_ERR_GENERAL;
    found->PopNotice(notice);
    return DL_OK;
}

int DlPopJobFileDone(int job, DlFileDone* record)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found || !record) return DL_ERR_GENERAL;
    found->PopFileDone(record);
    return DL_OK;
}

int DlGetJobProgress(int job, DlProgress* record)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found || !record) return DL_ERR_GENERAL;
    *record = found->Progress();
    return DL_OK;
}

int DlGetJobSizeInfo(int job, DlSizeInfo* record)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found || !record) return DL_ERR_GENERAL;
    found->TakeSizeInfo(record);
    return DL_OK;
}

int DlGetJobResult(int job, DlJobResult* record)
{
    CJobManager* manager = Manager();
    if (!manager) return DL_ERR_GENERAL;
    cpCAutoLock guard(manager->NetworkLock());
    CJob* found = manager->FindJob(job);
    if (!found || !record) return DL_ERR_GENERAL;
    found->TakeResult(record);
    return DL_OK;
}

cpCMutex* DlNetworkLockForTesting()
{
    CJobManager* manager = Manager();
    return manager ? manager->NetworkLock() : nullptr;
}
