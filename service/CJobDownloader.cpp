#include "service/CJobDownloader.h"

#include "netlib/core/vqTimerLink.h"
#include "engine/ActivityLog.h"

#include <algorithm>

namespace {
constexpr uint32_t kTickPeriodMs = 1000;
constexpr uintptr_t kTickTimerTag = 0x1000010;
} // namespace

CJobDownloader::CJobDownloader(IJobDownloadEventListener* manager) : m_manager(manager)
{
    LogReset();
    LogPrintf("[MeshpullLib] Launch(%s)", kLibraryVersion);
}

CJobDownloader::~CJobDownloader()
{
    vqStopTimer(m_tickTimer);
}

int CJobDownloader::StartJob(CJob* job)
{
    if (Holds(job, false)) return DL_ERR_ALREADY_RUNNING;
    m_networkDown = 0;
    job->SetState(JobState::Running);
    m_jobs.push_back(job);
    StartTickTimer();
    return BeginJob(job);
}

int CJobDownloader::StopJob(CJob* job)
{
    if (!Holds(job, true)) return DL_ERR_NOT_HELD;
    job->SetState(JobState::Idle);
    StopTickTimerIfIdle();
    EndJob(job);
    return DL_OK;
}

int CJobDownloader::ForwardResume(CJob* job, unsigned char resume, unsigned char applyToAll)
{
    if (!Holds(job, false)) return DL_ERR_NOT_HELD;
    AnswerResume(job, resume, applyToAll);
    return DL_OK;
}

bool CJobDownloader::Holds(CJob* job, bool remove)
{
    auto it = std::find(m_jobs.begin(), m_jobs.end(), job);
    if (it == m_jobs.end()) return false;
    if (remove) m_jobs.erase(it);
    return true;
}

void CJobDownloader::Tick()
{
    // A job may be dropped (or another one started) inside TickJob: walk a
    // snapshot and skip jobs that are no longer held.
    std::vector<CJob*> snapshot = m_jobs;
    const auto alive = m_life.Watch();
    for (CJob* job : snapshot) {
        if (!Holds(job, false)) continue;
        TickJob(job);
        if (!*alive) return;
        if (Holds(job, false)) job->ReportProgress();
    }
}

void CJobDownloader::PutProgress(CJob* job, const DlProgress& record)
{
    if (Holds(job, false)) job->SetProgress(record);
}

void CJobDownloader::PutNotice(CJob* job, int code, const char* text)
{
    if (Holds(job, false)) job->AddNotice(code, text);
}

void CJobDownloader::PutNoticeAndDrop(CJob* job, int code, const char* text)
{
    if (!Holds(job, true)) return;
    job->AddNotice(code, text);
    StopTickTimerIfIdle();
}

void CJobDownloader::PutFileDone(CJob* job, const char* path, const char* source)
{
    if (Holds(job, false)) job->ReportFileDone(path, nullptr, source);
}

void CJobDownloader::PutFileDone(CJob* job, const char* path, const char* secondText, const char* source)
{
    if (Holds(job, false)) job->ReportFileDone(path, secondText, source);
}

bool CJobDownloader::DropJob(CJob* job)
{
    if (!Holds(job, true)) return false;
    StopTickTimerIfIdle();
    return true;
}

void CJobDownloader::PutSize(CJob* job, int fileCount, long long total)
{
    if (Holds(job, false)) job->ReportSize(fileCount, total);
}

void CJobDownloader::PutComplete(CJob* job, int valueA, int valueB)
{
    if (!Holds(job, true)) return;
    job->ReportComplete(valueA, valueB);
    StopTickTimerIfIdle();
}

void CJobDownloader::OnTickTimer(void* self)
{
    static_cast<CJobDownloader*>(self)->Tick();
}

void CJobDownloader::StartTickTimer()
{
    if (m_ticking) return;
    m_ticking = true;
    vqStartTimer(m_tickTimer, kTickPeriodMs, &CJobDownloader::OnTickTimer, this, kTickTimerTag);
}

void CJobDownloader::StopTickTimerIfIdle()
{
    if (!m_jobs.empty() || !m_ticking) return;
    m_ticking = false;
    vqStopTimer(m_tickTimer);
}
