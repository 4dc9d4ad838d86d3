#pragma once
// A periodic callback on the service thread (class id 0x1006), driven by the
// timer manager's 100 ms tick.
//
// Contract:
// - Start(period, callback, userData, tag, lock) makes the timer running: it
//   fires at most once per manager tick, on the service thread with the
//   network lock held, first at start + period and then at every further
//   period counted from the start (no drift). The timer keeps lock (any
//   object, usually the network lock, or empty) until it is destroyed.
//   Starting a running timer starts it anew; it still has one entry.
// - Stop() ends the firing at once, also for a tick in progress. Restart()
//   counts the periods anew from now, running or not.
// - The callback may start, stop or release any timer, its own included.
// - A timer released while still running leaves the manager by itself.
// - Without a timer manager (before network start-up or after shut-down) a
//   started timer never fires.
// All operations answer 0x40200000.

#include "netlib/core/cpClock.h"
#include "netlib/core/vqCRefCounted.h"
#include "netlib/core/vqSmartPtr.h"

#include <cstdint>

typedef void (*cpTimerCallback)(void* userData);

class cpCTimer : public vqCRefCounted<vqIUnknown> {
public:
    cpCTimer() = default;
    ~cpCTimer() override;

    virtual vqRESULT Start(uint32_t periodMs, cpTimerCallback callback, void* userData, uint32_t tag, vqSmartPtr lock);
    virtual vqRESULT Stop();
    virtual vqRESULT Restart();

    bool IsRunning() const { return m_callback != nullptr; }
    const cpTIMEOFDAY& Due() const { return m_due; }
    uint32_t Count() const { return m_count; }

    // Used by the timer manager's tick.
    bool IsDueAt(const cpTIMEOFDAY& now) const;
    void Rebase(const cpTIMEOFDAY& now);
    // A running timer advances one period and calls its callback.
    void Fire();

private:
    void ComputeDue();

    cpTimerCallback m_callback = nullptr;
    void* m_userData = nullptr;
    cpTIMEOFDAY m_due{};
    cpTIMEOFDAY m_start{};
    uint32_t m_period = 0;
    vqSmartPtr m_lock;
    uint32_t m_count = 0;
};
