#include "netlib/runtime/cpCQoS.h"

#include "netlib/core/cpCAutoLock.h"
#include "netlib/core/vqCKeepAlive.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/runtime/cpCTimer.h"
#include "platform/MessageLoop.h"
#include "platform/SocketTypes.h"

#include <atomic>

namespace {

cpCQoS* g_manager = nullptr;
// Windows of live managers; notifications that arrive when it is 0 are dropped.
std::atomic<int> g_windowCount{0};
// The lock the window procedure takes around each message.
std::atomic<cpCMutex*> g_windowLock{nullptr};
// Records keep pointing here after shut-down; its window is null then.
cpWindowHolder g_holder{nullptr, 0};

// An owner is called through a vqCKeepAlive: the call may release its slot.
using OwnerCall = vqCKeepAlive<cpISocketOwner>;

} // namespace

cpCQoS* cpCQoS::Get()
{
    return g_manager;
}

vqRESULT cpCQoS::Create(cpCMutex* networkLock)
{
    if (g_manager) return VQ_E_NETWORK;
    g_manager = new cpCQoS();
    return g_manager->Init(networkLock);
}

void cpCQoS::Destroy()
{
    cpCQoS* manager = g_manager;
    if (!manager) return;
    {
        cpCAutoLock guard(manager->NetworkLock());
        g_manager = nullptr;
    }
    delete manager;
}

cpCQoS::~cpCQoS()
{
    Shutdown();
    // Owners still registered keep their records (they close them), but the
    // table's references would otherwise leak with it.
    for (int32_t slot = 0; slot < cpSOCKET_SLOTS; ++slot) {
        cpISocketOwner* owner = m_slots[slot];
        if (!owner) continue;
        int32_t ignored;
        cpSocketUnselect(nullptr, m_records[slot], &ignored);
        m_slots[slot] = nullptr;
        m_records[slot] = nullptr;
        owner->Release();
    }
    m_lock.Assign(nullptr);
}

vqRESULT cpCQoS::Init(cpCMutex* networkLock)
{
    m_lock.Assign(networkLock);
    for (int32_t i = 0; i < cpSOCKET_SLOTS; ++i) {
        m_slots[i] = nullptr;
        m_records[i] = nullptr;
    }
    m_nextSlot = 0;

    g_windowLock.store(networkLock);
    HWND window = CreateMessageWindow(&cpCQoS::WindowProc, this);
    if (!window) {
        g_windowLock.store(nullptr);
        return VQ_E_PLATFORM;
    }
    g_holder.window = window;
    g_holder.reserved = 0;
    m_holder = &g_holder;
    g_windowCount.fetch_add(1);

    if (m_timer.CreateInstance(CLSID_cpCTimer))
        m_timer.As<cpCTimer>()->Start(kTickPeriodMs, &cpCQoS::OnTimer, this, kTickTimerTag, vqSmartPtr());
    return VQ_OK_NETWORK;
}

vqRESULT cpCQoS::Shutdown()
{
    if (m_timer.Get()) m_timer.As<cpCTimer>()->Stop();
    m_timer.Assign(nullptr);
    if (!m_holder) return VQ_OK_NETWORK;
    HWND window = m_holder->window;
    g_windowCount.fetch_sub(1);
    g_windowLock.store(nullptr);
    // The message wakes the service thread's loop so it can see a stop
    // request; the window is then gone, so it and every late notification
    // are dropped at dispatch.
    PostMessage(window, cpWM_WAKE, 0, 0);
    DestroyMessageWindow(window);
    m_holder->window = nullptr;
    m_holder = nullptr;
    return VQ_OK_NETWORK;
}

void cpCQoS::Lock()
{
    if (cpCMutex* lock = NetworkLock()) lock->Lock();
}

void cpCQoS::Unlock()
{
    if (cpCMutex* lock = NetworkLock()) lock->Unlock();
}

cpISocketOwner* cpCQoS::SlotOwner(int32_t slot) const
{
    return slot >= 0 && slot < cpSOCKET_SLOTS ? m_slots[slot] : nullptr;
}

SOCKET cpCQoS::SlotSocket(int32_t slot) const
{
    return slot >= 0 && slot < cpSOCKET_SLOTS && m_records[slot] ? m_records[slot]->socket : INVALID_SOCKET;
}

int32_t cpCQoS::FindNextFree(int32_t from) const
{
    for (int32_t i = from + 1; i < cpSOCKET_SLOTS; ++i)
        if (!m_slots[i]) return i;
    for (int32_t i = 0; i < from; ++i)
        if (!m_slots[i]) return i;
    return from;
}

cpSocketRecord* cpCQoS::RegisterContext(cpISocketOwner* owner, cpSocketRecord* record)
{
    if (!record && VQ_FAILED(cpSocketCreate(record, cpSOCKET_STREAM))) {
        cpSocketClose(record);
        return nullptr;
    }
    if (owner && VQ_SUCCEEDED(cpSocketSetBlocking(record, 0))) {
        cpCAutoLock guard(NetworkLock());
        int32_t slot = m_nextSlot;
        if (m_slots[slot]) slot = m_nextSlot = FindNextFree(m_nextSlot);
        // A full table has no slot to give: refuse rather than overwrite.
        if (m_holder && !m_slots[slot] && VQ_SUCCEEDED(cpSocketSelect(m_holder, record, slot))) {
            m_slots[slot] = owner;
            m_records[slot] = record;
            owner->AddRef();
            m_nextSlot = FindNextFree(slot);
            return record;
        }
    }
    cpSocketClose(record);
    return nullptr;
}

vqRESULT cpCQoS::UnregisterContext(cpISocketOwner* owner, cpSocketRecord* record)
{
    if (!record) return VQ_E_NO_SOCKET_RECORD;
    {
        cpCAutoLock guard(NetworkLock());
        int32_t slot = -1;
        if (VQ_SUCCEEDED(cpSocketUnselect(m_holder, record, &slot)) && slot >= 0 && slot < cpSOCKET_SLOTS &&
            m_slots[slot] && m_slots[slot] == owner) {
            m_slots[slot] = nullptr;
            m_records[slot] = nullptr;
            owner->Release();
        }
    }
    return cpSocketClose(record);
}

void cpCQoS::OnSocketEvent(int32_t slot, int event, int)
{
    cpCAutoLock guard(NetworkLock());
    cpISocketOwner* target = SlotOwner(slot);
    if (!target) return;
    OwnerCall owner(target);
    switch (event) {
    case kEventReadable: owner->OnReadable(); break;
    case kEventWritable: owner->OnWritable(); break;
    case kEventConnected: owner->OnConnected(); break;
    case kEventAccept: owner->OnAccept(); break;
    case kEventClosed: owner->Close(); break;
    case kEventRefused: owner->OnConnectFailed(); break;
    case kEventUnreachable: owner->OnConnectUnreachable(); break;
    default: break;
    }
}

void cpCQoS::OnDeferredEvent(int32_t slot, cpSocketRecord* record)
{
    cpCAutoLock guard(NetworkLock());
    cpISocketOwner* target = SlotOwner(slot);
    if (!target) return;
    OwnerCall owner(target);
    owner->OnDeferredEvent(record);
}

int cpCQoS::TranslateNotification(LPARAM lParam)
{
    const int32_t packed = static_cast<int32_t>(lParam);
    const long code = packed & 0xFFFF;
    const int error = packed >> 16;
    switch (code) {
    case FD_READ: return kEventReadable;
    case FD_WRITE: return kEventWritable;
    case FD_ACCEPT: return kEventAccept;
    case FD_CLOSE: return kEventClosed;
    case FD_CONNECT:
        if (error == 0) return kEventConnected;
        if (error == WSAECONNREFUSED) return kEventRefused;
        if (error == WSAEHOSTUNREACH) return kEventUnreachable;
        return 0;
    default: return 0;
    }
}

LRESULT cpCQoS::WindowProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool socketMessage = message >= cpWM_SOCKET && message < cpWM_SOCKET + cpSOCKET_SLOTS;
    if (!socketMessage && message != cpWM_DEFERRED) return 0;
    cpCAutoLock guard(g_windowLock.load());
    cpCQoS* manager = g_manager;
    if (g_windowCount.load() == 0 || !manager) return 0;
    if (message == cpWM_DEFERRED) {
        manager->OnDeferredEvent(static_cast<int32_t>(wParam), reinterpret_cast<cpSocketRecord*>(lParam));
        return 0;
    }
    const SOCKET socket = static_cast<SOCKET>(wParam);
    const int32_t slot = static_cast<int32_t>(message - cpWM_SOCKET);
    if (socket == INVALID_SOCKET || socket != manager->SlotSocket(slot)) return 0;
    if (int event = TranslateNotification(lParam)) manager->OnSocketEvent(slot, event, static_cast<int32_t>(lParam) >> 16);
    return 0;
}

void cpCQoS::OnTimer(void* self)
{
    static_cast<cpCQoS*>(self)->OnSecondTick();
}

void cpCQoS::OnSecondTick()
{
    m_budget.Refill();
    cpCAutoLock guard(NetworkLock());
    uint32_t receivedTotal = 0;
    uint32_t sentTotal = 0;
    for (int32_t slot = 0; slot < cpSOCKET_SLOTS; ++slot) {
        if (!m_slots[slot]) continue;
        OwnerCall owner(m_slots[slot]);
        owner->OnSchedulerTick(receivedTotal, sentTotal);
    }
}
