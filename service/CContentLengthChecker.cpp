#include "service/CContentLengthChecker.h"

#include <cstdint>

#include "netlib/core/cpCAutoLock.h"
#include "netlib/core/cpClock.h"
#include "engine/ActivityLog.h"
#include "service/DlApi.h"

namespace {

int64_t NowSeconds()
{
    uint32_t seconds = 0;
    cpGetTime(&seconds);
    return seconds;
}

} // namespace

CContentLengthChecker::CContentLengthChecker(IContentLengthCheckerEventListener* listener, cpCMutex* networkLock)
    : m_listener(listener), m_networkLock(networkLock)
{
}

CContentLengthChecker::~CContentLengthChecker()
{
    Reset();
}

int CContentLengthChecker::AddUrl(const char* entry)
{
    cpCAutoLock guard(m_networkLock.As<cpCMutex>());
    auto session = std::make_unique<CContentLengthCheckSession>(this);
    session->SetUrl(static_cast<int>(m_sessions.size()), entry);
    m_sessions.push_back(std::move(session));
    return DL_OK;
}

void CContentLengthChecker::Start()
{
    cpCAutoLock guard(m_networkLock.As<cpCMutex>());
    m_startTime = NowSeconds();
    m_failure.clear();
    LogPrintf("[MeshpullLib] Start ContentLength Check file:%d", static_cast<int>(m_sessions.size()));
    if (m_sessions.empty()) {
        if (m_listener) m_listener->OnSizeCheckDone(static_cast<unsigned int>(m_total), static_cast<int>(m_total >> 32));
        return;
    }
    const auto running = m_life.Watch();
    while (*running && m_running < kMaxRunning && m_next < static_cast<int>(m_sessions.size())) {
        ++m_running;
        m_sessions[static_cast<size_t>(m_next++)]->Probe();
    }
}

void CContentLengthChecker::StartNext()
{
    if (m_next < static_cast<int>(m_sessions.size()) && m_running < kMaxRunning) {
        ++m_next;
        ++m_running;
        m_sessions[static_cast<size_t>(m_next - 1)]->Probe();
    }
}

void CContentLengthChecker::OnProbeDone(int, int64_t length)
{
    // A total past what 63 bits hold stays at the largest: never a wrapped,
    // plausible-looking number.
    m_total = length > INT64_MAX - m_total ? INT64_MAX : m_total + length;
    ++m_done;
    --m_running;
    if (m_done < static_cast<int>(m_sessions.size())) {
        StartNext();
        return;
    }
    LogPrintf("[MeshpullLib] ContentLength Check Complete file:%d sec:%d", m_done,
              static_cast<int>(NowSeconds() - m_startTime));
    Reset();
    if (m_listener) m_listener->OnSizeCheckDone(static_cast<unsigned int>(m_total), static_cast<int>(m_total >> 32));
}

void CContentLengthChecker::OnProbeFailed(int index, const char* url)
{
    // The session that reports is destroyed by the reset: keep its URL.
    const std::string failed = url ? url : "";
    KeepFailure(index);
    Reset();
    if (m_listener) m_listener->OnSizeCheckFailed(failed.c_str());
}

void CContentLengthChecker::OnProbeUnreachable(int index)
{
    KeepFailure(index);
    Reset();
    if (m_listener) m_listener->OnSizeCheckUnreachable();
}

void CContentLengthChecker::Reset()
{
    cpCAutoLock guard(m_networkLock.As<cpCMutex>());
    m_life.Renew();
    for (auto it = m_sessions.rbegin(); it != m_sessions.rend(); ++it) (*it)->Detach();
    m_sessions.clear();
    m_running = 0;
    m_next = 0;
}

void CContentLengthChecker::KeepFailure(int index)
{
    if (index >= 0 && static_cast<size_t>(index) < m_sessions.size())
        m_failure = m_sessions[static_cast<size_t>(index)]->Failure();
}
