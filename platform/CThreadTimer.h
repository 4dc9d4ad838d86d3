#pragma once
// One thread timer: a timerfd in the owning thread's poll set that posts
// WM_TIMER into that thread's queue (see ThreadTimer.h for the contract).
//
// Ownership: the timer registry of ThreadTimer.cpp owns every timer; the
// queue only watches its descriptor. Detach must run before destruction.

#include "platform/IPollSource.h"
#include "platform/MessageQueue.h"
#include "platform/WinTypes.h"

#include <atomic>
#include <memory>

class CThreadTimer final : public IPollSource {
public:
    CThreadTimer(UINT_PTR id, std::shared_ptr<CMessageQueue> queue);
    ~CThreadTimer();
    CThreadTimer(const CThreadTimer&) = delete;
    CThreadTimer& operator=(const CThreadTimer&) = delete;

    // Arms the descriptor and joins the owner's poll set; false on failure.
    bool Start(UINT elapseMs, TIMERPROC procedure);
    // Leaves the poll set and drops a pending WM_TIMER. Any thread.
    void Detach();
    // The owner dispatches our message: the next expiry may post again.
    void OnDispatched() { m_pending.store(false); }
    bool OwnedByCurrentThread() const;

    void OnPollReady(uint32_t events) override;

private:
    const UINT_PTR m_id;
    std::weak_ptr<CMessageQueue> m_queue;
    DWORD m_ownerThread;
    int m_fd = -1;
    bool m_inPollSet = false;
    std::atomic<TIMERPROC> m_procedure{nullptr};
    std::atomic<bool> m_pending{false};
};

// The live timer of an id, or null (used by DispatchMessage).
std::shared_ptr<CThreadTimer> FindThreadTimer(UINT_PTR id);
