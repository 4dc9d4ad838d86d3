#include "engine/CDownloader.h"

#include "engine/ActivityLog.h"
#include "engine/CBinaryExecute_V3.h"
#include "engine/IDownloaderEventListener.h"
#include "engine/IGetPath.h"
#include "engine/UpdateDescription.h"
#include "engine/UpdateSignature.h"
#include "netlib/core/cpCAutoLock.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqTimerLink.h"

#include <algorithm>

namespace {
constexpr uintptr_t kRetryTimerTag = 0x1000020;
// OnSessionDone codes that give the engine path up: an archive that cannot
// be unpacked, an engine folder that cannot be made.
constexpr int kCodeExtractFailed = 5;
constexpr int kCodeNoEngineFolder = 7;
constexpr int kCodeDescriptionRejected = 3;
} // namespace

CDownloader::CDownloader(IDownloaderEventListener* listener, cpCMutex* networkLock, const IGetPath* paths,
                         CBinaryExecBase* runner, std::string descriptionUrl)
    : m_listener(listener)
    , m_paths(paths ? paths : GetPathProvider())
    , m_runner(runner ? runner : GetBinaryRunner())
    , m_descriptionUrl(descriptionUrl.empty() ? UpdateDescriptionUrl() : std::move(descriptionUrl))
    , m_handler(m_paths)
    , m_list(&m_handler, m_paths)
{
    m_networkLock.Assign(networkLock);
    LogWrite("[MeshpullLib] Initialize Downloader");
}

CDownloader::~CDownloader()
{
    vqStopTimer(m_retryTimer);
    m_sessions.clear();
    LogWrite("[MeshpullLib] Finalize Downloader");
}

void CDownloader::BeginUpdate()
{
    const std::string signature = m_descriptionUrl + kSignatureFileSuffix;
    m_list.AddRecord(m_descriptionUrl.c_str(), signature.c_str(), nullptr, nullptr);
    LogWrite("[MeshpullLib] Begin Update");
    StartNextTransfer();
}

CDownloadSession* CDownloader::IdleOrNewSession()
{
    for (const auto& session : m_sessions)
        if (!session->IsBusy()) return session.get();
    m_sessions.push_back(std::make_unique<CDownloadSession>(this, m_networkLock.As<cpCMutex>()));
    return m_sessions.back().get();
}

void CDownloader::RemoveSession(CDownloadSession* session)
{
    auto held = std::find_if(m_sessions.begin(), m_sessions.end(),
                             [session](const auto& owned) { return owned.get() == session; });
    if (held != m_sessions.end()) m_sessions.erase(held);
}

void CDownloader::StartNextTransfer()
{
    cpCAutoLock lock(m_networkLock.As<cpCMutex>());
    if (m_finished) return;
    if (!m_list.HasRecords()) return FinishUpdate();
    // A record with an attempt left always gets a session: a transfer that
    // failed after its digest list must be able to try again although every
    // other session is still busy.
    CDownloadFile* record = m_list.FindNext();
    if (!record) return;
    CDownloadSession* session = IdleOrNewSession();
    session->SetRecord(record);
    session->Start();
}

void CDownloader::StartAllTransfers()
{
    if (!m_list.HasRecords()) return FinishUpdate();
    const auto alive = m_life.Watch();
    const size_t records = m_list.GetRecordCount();
    for (size_t i = 0; i < records; ++i) {
        StartNextTransfer();
        if (!*alive || m_finished) return;
    }
}

void CDownloader::FinishUpdate()
{
    if (m_finished) return;
    m_finished = true;
    vqStopTimer(m_retryTimer);
    const int started = m_runner->Run("") ? 1 : 0;
    m_listener->OnDownloaderFinished(started, m_result.IsOk(), m_list.GetVersion());
}

void CDownloader::PauseForNetwork()
{
    if (m_retryTimer.Get()) return;
    m_list.SetUnlimited(1);
    vqStartTimer(m_retryTimer, kRetryPeriodMs, &CDownloader::OnRetryTick, this, kRetryTimerTag);
    m_listener->OnDownloaderOffline();
}

void CDownloader::GiveUpUnreachable(const std::string& url)
{
    LogPrintf("[MeshpullLib] Update Server Unreachable (URL: %s)(%d answers): the update is given up", url.c_str(),
              m_unreachableAnswers);
    m_result.Record(SESSION_ERROR_UNREACHABLE);
    FinishUpdate();
}

void CDownloader::OnRetryTick(void* self)
{
    auto* downloader = static_cast<CDownloader*>(self);
    if (downloader->m_sessions.empty()) downloader->StartNextTransfer();
}

void CDownloader::OnSessionConnected(CDownloadSession*)
{
    vqStopTimer(m_retryTimer);
    m_list.SetUnlimited(0);
    m_unreachableAnswers = 0;
}

void CDownloader::OnSessionDone(CDownloadSession* session, const SessionResult& result)
{
    session->SetRecord(nullptr);
    RemoveSession(session);
    if (m_finished) return;
    const int success = result.code == 0 || result.code == 6;
    if (result.code == kCodeExtractFailed || result.code == kCodeNoEngineFolder) {
        LogPrintf("[MeshpullLib] 엔진 다운로드 실패 result : %d", result.code);
        m_finished = true;
        vqStopTimer(m_retryTimer);
        m_listener->OnDownloaderPathFailed(1);
        return;
    }
    m_result.Record(result.code);
    m_list.Finish(result.url.c_str(), success);
    LogPrintf("[MeshpullLib] Download Completed (URL: %s)(Code: %d)", result.url.c_str(), result.code);
    if (result.kind == IProgressFile::kTransferDescription) return StartAllTransfers();
    StartNextTransfer();
}

void CDownloader::OnSessionError(CDownloadSession* session, int code)
{
    const std::string url = session->TransferUrl();
    auto* record = static_cast<CDownloadFile*>(session->Record());
    session->SetRecord(nullptr);
    RemoveSession(session);
    if (m_finished) return;
    // A record that failed its last attempt is dropped: what it stood for
    // is not installed, so the update is not ok. Without the description's
    // signature the description is never read (rejected, 3).
    if (record && !record->IsUnlimited() && record->GetAttemptsLeft() <= 0) {
        if (record->IsDescription() && record->GetKey() != record->GetUrl()) {
            LogPrintf("[MeshpullLib] Update Rejected (URL: %s)(no signature)", url.c_str());
            m_result.Record(kCodeDescriptionRejected);
        } else {
            m_result.Record(code);
        }
    }
    m_list.Finish(url.c_str(), 0);
    LogPrintf("[MeshpullLib] Session Error (URL: %s)(Code: %d)", url.c_str(), code);
    if (code != SESSION_ERROR_UNREACHABLE) return StartNextTransfer();
    if (++m_unreachableAnswers >= kUnreachableAnswers) return GiveUpUnreachable(url);
    PauseForNetwork();
}

void CDownloader::OnSessionBegin(CDownloadSession*, const char* url, int64_t size)
{
    if (m_finished) return;
    m_listener->OnDownloaderBegin(url, static_cast<uint32_t>(size), static_cast<uint32_t>(size >> 32));
}

void CDownloader::OnSessionProgress(CDownloadSession*, const char* url, int64_t bytes)
{
    if (m_finished) return;
    m_listener->OnDownloaderProgress(url, static_cast<uint32_t>(bytes), static_cast<uint32_t>(bytes >> 32));
}
