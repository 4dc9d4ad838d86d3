#pragma once
// Receives the service's events on the command line's own thread: a foreign
// window whose posted messages are queued here and taken by Wait.
//
// Contract: the service posts from its thread (Deliver only queues); Wait runs
// on the main thread. The inbox must outlive the service (DlFinalize first).

#include "platform/WinTypes.h"

#include <condition_variable>
#include <deque>
#include <mutex>

struct DlEvent {
    int code;
    int param;
};

class CEventInbox {
public:
    CEventInbox();
    ~CEventInbox();
    CEventInbox(const CEventInbox&) = delete;
    CEventInbox& operator=(const CEventInbox&) = delete;

    HWND Window() const { return m_window; }
    // The oldest event, waiting at most timeoutMs; false when none came or
    // Interrupt was called.
    bool Wait(DlEvent* event, int timeoutMs);
    // Async-signal-safe: makes every Wait return false at its next look.
    // signal: the one that stopped us (the exit status tells it).
    static void Interrupt(int signal);
    static bool Interrupted();
    // The signal given to Interrupt, 0 before.
    static int InterruptSignal();

private:
    static void Deliver(void* owner, const MSG& msg);

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<DlEvent> m_events;
    HWND m_window;
};
