#include "netlib/runtime/cpCTimer.h"

#include "netlib/runtime/cpCTimerManager.h"

namespace {
// The slack lets a timer due a few milliseconds after a tick fire in it
// rather than a whole tick late.
constexpr uint32_t kSlackMs = 10;
} // namespace

cpCTimer::~cpCTimer()
{
    if (cpCTimerManager* manager = cpCTimerManager::Get()) manager->RemoveEntry(this);
}

vqRESULT cpCTimer::Start(uint32_t periodMs, cpTimerCallback callback, void* userData, uint32_t tag, vqSmartPtr lock)
{
    m_callback = callback;
    m_userData = userData;
    m_period = periodMs;
    m_lock.Assign(lock);
    cpGetTimeOfDay(&m_start);
    m_count = 1;
    ComputeDue();
    if (cpCTimerManager* manager = cpCTimerManager::Get()) manager->AddEntry(this, tag);
    return VQ_OK_PLATFORM;
}

vqRESULT cpCTimer::Stop()
{
    if (cpCTimerManager* manager = cpCTimerManager::Get()) manager->RemoveEntry(this);
    m_due = cpTIMEOFDAY{};
    m_callback = nullptr;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCTimer::Restart()
{
    cpTIMEOFDAY now;
    cpGetTimeOfDay(&now);
    Rebase(now);
    return VQ_OK_PLATFORM;
}

void cpCTimer::Rebase(const cpTIMEOFDAY& now)
{
    m_start = now;
    m_count = 1;
    ComputeDue();
}

void cpCTimer::ComputeDue()
{
    // 64-bit: period × count outgrows 32 bits after 49.7 days of running,
    // which would put the due time far in the past.
    const uint64_t total = m_start.milliseconds + static_cast<uint64_t>(m_period) * m_count;
    m_due.seconds = m_start.seconds + static_cast<uint32_t>(total / 1000);
    m_due.milliseconds = static_cast<uint16_t>(total % 1000);
}

bool cpCTimer::IsDueAt(const cpTIMEOFDAY& now) const
{
    if (now.seconds != m_due.seconds) return now.seconds > m_due.seconds;
    return now.milliseconds + kSlackMs >= m_due.milliseconds;
}

void cpCTimer::Fire()
{
    if (!m_callback) return;
    ++m_count;
    ComputeDue();
    m_callback(m_userData);
}
