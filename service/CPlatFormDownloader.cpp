#include "service/CPlatFormDownloader.h"

#include "netlib/core/cpClock.h"
#include "platform/Connectivity.h"
#include "engine/ActivityLog.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

int64_t NowSeconds()
{
    uint32_t seconds = 0;
    cpGetTime(&seconds);
    return seconds;
}

int32_t Percent(int64_t part, int64_t whole)
{
    if (whole <= 0 || part <= 0) return 0;
    const int64_t percent = part * 100 / whole;
    return static_cast<int32_t>(percent > 100 ? 100 : percent);
}

} // namespace

CPlatFormDownloader::CPlatFormDownloader(IJobDownloadEventListener* manager)
    : CJobDownloader(manager), m_reporter(std::make_unique<CPlatformReporter>())
{
}

CPlatFormDownloader::~CPlatFormDownloader()
{
    m_records.clear();
    m_reporter.reset();
    LogWrite("[MeshpullLib] CPlatFormDownloader Destroy");
}

int CPlatFormDownloader::BeginJob(CJob* job)
{
    LogWrite("[MeshpullLib] CPlatFormDownloader Begin");
    if (TransferRecord* stale = FindRecord(job)) TakeRecord(stale);
    auto record = std::make_unique<TransferRecord>();
    record->job = job;
    TransferRecord& started = *record;
    m_records.push_back(std::move(record));
    StartSizeCheck(started);
    return DL_OK;
}

void CPlatFormDownloader::EndJob(CJob* job)
{
    TransferRecord* record = FindRecord(job);
    if (!record) return;
    ReportTransferred(*record);
    TakeRecord(record);
}

void CPlatFormDownloader::TickJob(CJob* job)
{
    const bool connected = HasInternetConnection();
    if (connected && NetworkDown()) {
        SetNetworkDown(false);
        PutNotice(job, DL_NOTICE_NETWORK_RESTORED, nullptr);
    } else if (!connected && !NetworkDown()) {
        SetNetworkDown(true);
        // A notice may let the application stop jobs: walk a copy.
        const std::vector<CJob*> held = HeldJobs();
        for (CJob* each : held) PutNotice(each, DL_NOTICE_NETWORK_LOST, nullptr);
    }
}

CPlatFormDownloader::TransferRecord* CPlatFormDownloader::FindRecord(CJob* job) const
{
    for (const auto& record : m_records)
        if (record->job == job) return record.get();
    return nullptr;
}

std::unique_ptr<CPlatFormDownloader::TransferRecord> CPlatFormDownloader::TakeRecord(const TransferRecord* record)
{
    auto it = std::find_if(m_records.begin(), m_records.end(), [record](const auto& each) { return each.get() == record; });
    if (it == m_records.end()) return nullptr;
    std::unique_ptr<TransferRecord> taken = std::move(*it);
    m_records.erase(it);
    return taken;
}

void CPlatFormDownloader::StartSizeCheck(TransferRecord& record)
{
    record.checker = std::make_unique<CPlatformFileSizeChecker>();
    record.checker->SetListener(this, &record);
    record.checker->Begin(record.job->Files());
}

void CPlatFormDownloader::StartSession(TransferRecord& record)
{
    record.session = std::make_unique<CPlatformSession>();
    record.session->SetListener(this, &record);
    record.session->SetMode(record.job->Mode());
    record.session->SetKnownSizes(record.sizes);
    record.session->Begin(record.job->Files());
}

void CPlatFormDownloader::OnCheckDone(void* context, const CPlatformSizeCheckResult& result)
{
    auto* record = static_cast<TransferRecord*>(context);
    LogWrite("[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed");
    record->total = result.totalBytes;
    record->presentAtStart = result.bytesPresent;
    record->fileCount = result.fileCount;
    record->sizes = result.sizes;
    record->startTime = NowSeconds();
    const auto alive = record->life.Watch();
    PutSize(record->job, result.fileCount, result.totalBytes);
    if (!*alive) return;
    StartSession(*record);
}

void CPlatFormDownloader::OnCheckFailed(void* context, int code, const char* text)
{
    auto* record = static_cast<TransferRecord*>(context);
    const std::string entry = text ? text : "";
    CJob* job = record->job;
    TakeRecord(record);
    PutNoticeAndDrop(job, code, entry.c_str());
}

void CPlatFormDownloader::OnAllFilesDone(void* context)
{
    auto* record = static_cast<TransferRecord*>(context);
    ReportTransferred(*record);
    CJob* job = record->job;
    PutProgress(job, ComputeProgress(*record));
    std::unique_ptr<TransferRecord> finished = TakeRecord(record);
    if (!finished) return;
    PutComplete(job, finished->session ? finished->filesCompleted : 0, 0);
}

void CPlatFormDownloader::OnTransferFailed(void* context, const char* text)
{
    PutNotice(static_cast<TransferRecord*>(context)->job, DL_NOTICE_DOWNLOAD_FAILED, text);
}

void CPlatFormDownloader::OnFileDone(void* context, const CJobFile& file)
{
    auto* record = static_cast<TransferRecord*>(context);
    ++record->filesCompleted;
    PutFileDone(record->job, file.LocalPath().c_str(), file.url.c_str());
}

void CPlatFormDownloader::OnProgress(void* context)
{
    auto* record = static_cast<TransferRecord*>(context);
    PutProgress(record->job, ComputeProgress(*record));
}

void CPlatFormDownloader::OnFileOpened(void*, const char*) {}

void CPlatFormDownloader::OnNotice(void* context, int code, const char* text)
{
    PutNotice(static_cast<TransferRecord*>(context)->job, code, text);
}

DlProgress CPlatFormDownloader::ComputeProgress(const TransferRecord& record) const
{
    DlProgress progress{};
    const CPlatformSession* session = record.session.get();
    const int64_t present = session ? session->GetBytesPresent() : 0;
    progress.totalBytes = record.total;
    progress.bytesPresent = present;
    progress.fileCount = record.fileCount;
    progress.filesDone = session ? record.filesCompleted : 0;
    const int64_t elapsed = NowSeconds() - record.startTime;
    progress.elapsedSeconds = elapsed;
    // Parts left by an earlier run were present before this one began: they
    // are no speed of it (1 GB resumed is not 1 GB/s).
    const int64_t before = record.presentAtStart + (session ? session->GetBytesResumed() : 0);
    int32_t speed = 0;
    if (elapsed > 0 && present >= 0 && before < present) speed = static_cast<int32_t>((present - before) / elapsed);
    progress.speed = speed;
    progress.remainingSeconds = (record.total - present) / (speed != 0 ? speed : 1);
    progress.percent = Percent(present, record.total);
    if (const CJobFile* file = session ? session->GetCurrentFile() : nullptr) {
        progress.fileIndex = file->index;
        progress.fileSize = file->size;
        progress.fileBytesPresent = file->startOffset + file->bytesDone;
        progress.speed64 = speed;
        progress.remainingSeconds64 = progress.remainingSeconds;
        progress.filePercent = Percent(progress.fileBytesPresent, file->size);
        snprintf(progress.fileName, sizeof progress.fileName, "%.65s", file->name.c_str());
    }
    return progress;
}

void CPlatFormDownloader::ReportTransferred(const TransferRecord& record)
{
    if (!record.session) return;
    std::vector<unsigned char> entries;
    const int32_t count = record.session->ListTransferredFiles(&entries);
    if (count > 0) m_reporter->Enqueue(count, entries.data());
}
