#pragma once
// The socket manager: a table of 64 slots, each naming the owner of one
// registered socket, and a hidden message window that receives every socket
// notification and deferred event of those sockets and routes it, as a
// numbered event, to the owner (cpISocketOwner.h). It also runs the
// one-second scheduler tick over every registered owner.
//
// Contract:
// - Create runs on the service thread: the hidden window and the notifications
//   belong to it, and that thread must dispatch its messages. Destroy runs on
//   any thread once the service thread no longer dispatches (normally after
//   it ended). The singleton exists between the two; Get() is null outside.
// - RegisterContext(owner, record) makes a stream socket when record is null,
//   switches it to non-blocking, gives it a free slot and asks for every
//   notification; the slot holds a reference on the owner. It answers the
//   record, or null when no slot is free (or no socket could be made, or the
//   manager has no window): the record, given or made, is then closed and
//   freed and nothing is registered.
// - UnregisterContext cancels the notifications, empties the slot (releasing
//   its reference; the owner may be destroyed here), and closes the socket
//   and frees the record, answering the close's result.
// - A notification or deferred event for an empty slot, for a socket that is
//   no longer the slot's, for INVALID_SOCKET, or after Shutdown reaches
//   nobody.
// - Lock/Unlock take and release the network lock; code on other threads
//   brackets every call into an owner with them.

#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/cpISocketOwner.h"
#include "netlib/runtime/cpSocketFunctions.h"
#include "netlib/runtime/cpWindowHolder.h"
#include "platform/WinTypes.h"

#include <cstdint>

class cpCQoS {
public:
    // Events routed to owners.
    static constexpr int kEventReadable = 2;
    static constexpr int kEventWritable = 3;
    static constexpr int kEventConnected = 4;
    static constexpr int kEventAccept = 6;
    static constexpr int kEventClosed = 7;
    static constexpr int kEventRefused = 8;
    static constexpr int kEventUnreachable = 9;

    static constexpr uint32_t kTickPeriodMs = 1000;
    static constexpr uint32_t kTickTimerTag = 0x1000002;

    // Makes the singleton and runs Init; the singleton exists afterwards even
    // when Init failed (0x80200000: no hidden window).
    static vqRESULT Create(cpCMutex* networkLock);
    static void Destroy();
    static cpCQoS* Get();

    virtual vqRESULT Init(cpCMutex* networkLock);
    virtual vqRESULT Shutdown();
    virtual ~cpCQoS();

    cpSocketRecord* RegisterContext(cpISocketOwner* owner, cpSocketRecord* record);
    vqRESULT UnregisterContext(cpISocketOwner* owner, cpSocketRecord* record);
    void Lock();
    void Unlock();

    void OnSocketEvent(int32_t slot, int event, int error);
    void OnDeferredEvent(int32_t slot, cpSocketRecord* record);

    // The notification of a socket message: the event, or 0 for none.
    static int TranslateNotification(LPARAM lParam);
    static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Window() const { return m_holder ? m_holder->window : nullptr; }
    int32_t NextSlot() const { return m_nextSlot; }
    cpISocketOwner* SlotOwner(int32_t slot) const;
    void SetNextSlotForTesting(int32_t slot) { m_nextSlot = slot; }

private:
    cpCQoS() = default;
    cpCMutex* NetworkLock() const { return m_lock.As<cpCMutex>(); }
    int32_t FindNextFree(int32_t from) const;
    SOCKET SlotSocket(int32_t slot) const;
    void OnSecondTick();
    static void OnTimer(void* self);

    vqSmartPtr m_lock;
    vqSmartPtr m_timer;
    cpWindowHolder* m_holder = nullptr;
    cpISocketOwner* m_slots[cpSOCKET_SLOTS] = {};
    // The record registered with each slot, to tell a late notification of a
    // closed socket from one of the slot's current socket.
    cpSocketRecord* m_records[cpSOCKET_SLOTS] = {};
    int32_t m_nextSlot = 0;
};
