#include "netlib/runtime/cpCTimerManager.h"

#include "netlib/core/cpCAutoLock.h"
#include "netlib/runtime/cpCTimer.h"
#include "platform/ThreadTimer.h"

#include <atomic>
#include <vector>

namespace {
cpCTimerManager* g_manager = nullptr;
std::atomic<int> g_activeTimers{0};
// The lock the thread timer's procedure takes around a tick.
std::atomic<cpCMutex*> g_tickLock{nullptr};
constexpr UINT_PTR kRequestedTimerId = 10;
} // namespace

cpCTimerManager* cpCTimerManager::Get()
{
    return g_manager;
}

vqRESULT cpCTimerManager::Create(cpCMutex* networkLock)
{
    if (g_manager) return VQ_E_PLATFORM;
    g_manager = new cpCTimerManager(networkLock);
    auto* record = new OsTimer{0, &cpCTimerManager::OnThreadTimer, g_manager};
    record->id = SetTimer(nullptr, kRequestedTimerId, kTickPeriodMs, record->procedure);
    if (record->id == 0) {
        delete record;
        return VQ_E_PLATFORM;
    }
    g_manager->m_osTimer = record;
    g_activeTimers.fetch_add(1);
    g_tickLock.store(networkLock);
    return VQ_OK_PLATFORM;
}

void cpCTimerManager::Destroy()
{
    cpCTimerManager* manager = g_manager;
    if (!manager) return;
    {
        cpCAutoLock guard(manager->Lock());
        g_manager = nullptr;
        manager->KillOsTimer();
        while (manager->m_entries.GetCount() > 0)
            ReleaseEntry(static_cast<Entry*>(manager->m_entries.RemoveAt(manager->m_entries.GetCount() - 1)));
    }
    delete manager;
}

cpCTimerManager::cpCTimerManager(cpCMutex* networkLock) : m_lock(networkLock) {}

cpCTimerManager::~cpCTimerManager()
{
    m_lock.Assign(nullptr);
}

void cpCTimerManager::KillOsTimer()
{
    OsTimer* record = m_osTimer;
    if (!record) return;
    m_osTimer = nullptr;
    g_activeTimers.fetch_sub(1);
    g_tickLock.store(nullptr);
    KillTimer(nullptr, record->id);
    delete record;
}

void cpCTimerManager::ReleaseEntry(Entry* entry)
{
    if (--entry->refCount == 0) delete entry;
}

void cpCTimerManager::AddEntry(cpCTimer* timer, uint32_t tag)
{
    if (!timer) return;
    cpCAutoLock guard(Lock());
    RemoveEntry(timer);
    m_entries.AddTail(new Entry{timer, tag, 1});
}

void cpCTimerManager::RemoveEntry(cpCTimer* timer)
{
    cpCAutoLock guard(Lock());
    for (int32_t i = 0; i < m_entries.GetCount(); ++i) {
        auto* entry = static_cast<Entry*>(m_entries.GetAt(i));
        if (entry->timer != timer) continue;
        m_entries.RemoveAt(i);
        ReleaseEntry(entry);
        return;
    }
}

bool cpCTimerManager::FindTag(const cpCTimer* timer, uint32_t* tag)
{
    cpCAutoLock guard(Lock());
    for (int32_t i = 0; i < m_entries.GetCount(); ++i) {
        auto* entry = static_cast<Entry*>(m_entries.GetAt(i));
        if (entry->timer != timer) continue;
        if (tag) *tag = entry->tag;
        return true;
    }
    return false;
}

void cpCTimerManager::Tick()
{
    if (m_entries.GetCount() == 0) return;
    std::vector<Entry*> snapshot;
    cpTIMEOFDAY now;
    {
        cpCAutoLock guard(Lock());
        if (!m_osTimer || m_entries.GetCount() == 0) return;
        cpGetTimeOfDay(&now);
        const int64_t nowMs = static_cast<int64_t>(now.seconds) * 1000 + now.milliseconds;
        const int64_t lastMs = static_cast<int64_t>(m_lastTick.seconds) * 1000 + m_lastTick.milliseconds;
        const int64_t gap = nowMs > lastMs ? nowMs - lastMs : lastMs - nowMs;
        const bool jumped = lastMs != 0 && gap >= kClockJumpMs;
        m_lastTick = now;
        snapshot.reserve(static_cast<size_t>(m_entries.GetCount()));
        for (int32_t i = 0; i < m_entries.GetCount(); ++i) {
            auto* entry = static_cast<Entry*>(m_entries.GetAt(i));
            entry->timer->AddRef();
            if (jumped) entry->timer->Rebase(now);
            ++entry->refCount;
            snapshot.push_back(entry);
        }
    }
    // A stopped timer is still in the snapshot but no longer fires.
    for (Entry* entry : snapshot)
        if (entry->timer->IsDueAt(now)) entry->timer->Fire();
    cpCAutoLock guard(Lock());
    for (Entry* entry : snapshot) {
        entry->timer->Release();
        ReleaseEntry(entry);
    }
}

void cpCTimerManager::OnThreadTimer(HWND, UINT, UINT_PTR, DWORD)
{
    cpCAutoLock guard(g_tickLock.load());
    if (g_activeTimers.load() != 0 && g_manager && g_manager->m_osTimer) g_manager->Tick();
}
