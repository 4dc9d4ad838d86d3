#pragma once
// The process-wide timer manager: one 100 ms thread timer of the service
// thread drives every running cpCTimer.
//
// Contract:
// - Create(networkLock) runs on the service thread (the thread timer belongs
//   to it, and that thread must dispatch its messages); Destroy runs on any
//   thread once nothing ticks any more (normally after the service thread
//   ended). The singleton exists between the two; Get() is null outside.
// - Create answers 0x80200000 when the thread timer cannot be made: the
//   manager then exists but never ticks.
// - Each tick takes the network lock and fires every due timer once, in the
//   order they were started, with the time read once for the whole tick.
//   After a gap of 3000 ms or more between two ticks (a blocked thread or a
//   clock change) every timer counts its periods anew from that tick.
// - The manager holds no reference on timers; an entry lives until its timer
//   stops (or is released) and no tick in progress still holds it.

#include "netlib/core/cpCMutex.h"
#include "netlib/core/cpClock.h"
#include "netlib/core/vqCPtrList.h"
#include "netlib/core/vqSmartPtr.h"
#include "platform/WinTypes.h"

#include <cstdint>

class cpCTimer;

class cpCTimerManager {
public:
    static vqRESULT Create(cpCMutex* networkLock);
    static void Destroy();
    static cpCTimerManager* Get();

    // Under the manager's lock. A timer has at most one entry: adding a
    // timer that has one moves it to the end with the new tag.
    void AddEntry(cpCTimer* timer, uint32_t tag);
    void RemoveEntry(cpCTimer* timer);
    void Tick();

    int32_t EntryCount() const { return m_entries.GetCount(); }
    // The tag the timer was started with; false when it has no entry.
    bool FindTag(const cpCTimer* timer, uint32_t* tag);

    static constexpr UINT kTickPeriodMs = 100;
    static constexpr uint32_t kClockJumpMs = 3000;

private:
    struct Entry {
        cpCTimer* timer;
        uint32_t tag;
        int32_t refCount;
    };
    struct OsTimer {
        UINT_PTR id;
        TIMERPROC procedure;
        cpCTimerManager* argument;
    };

    explicit cpCTimerManager(cpCMutex* networkLock);
    ~cpCTimerManager();
    cpCMutex* Lock() const { return m_lock.As<cpCMutex>(); }
    void KillOsTimer();
    static void ReleaseEntry(Entry* entry);
    static void OnThreadTimer(HWND window, UINT message, UINT_PTR id, DWORD tickMs);

    vqCPtrList m_entries;
    vqSmartPtr m_lock;
    OsTimer* m_osTimer = nullptr;
    cpTIMEOFDAY m_lastTick{};
};
