#pragma once
// A thread with a message queue of its own from the first instant, so that
// PostThreadMessage to its id succeeds as soon as Start returns.
//
// Contract: the body runs once on the new thread. WaitForEnd may be called
// from any one other thread. There is no forced termination on this platform:
// Abandon detaches a thread that did not end in time; whoever abandons it
// must keep alive everything the body may still touch.

#include "platform/WinTypes.h"

#include <functional>
#include <memory>
#include <thread>

class CAutoResetEvent;

class CPlatformThread {
public:
    CPlatformThread();
    ~CPlatformThread(); // abandons a thread that was neither joined nor abandoned
    CPlatformThread(const CPlatformThread&) = delete;
    CPlatformThread& operator=(const CPlatformThread&) = delete;

    bool Start(std::function<void()> body);
    DWORD ThreadId() const { return m_threadId; }
    // True (and the thread joined) when the body returned within timeoutMs.
    bool WaitForEnd(DWORD timeoutMs);
    void Abandon();

private:
    std::thread m_thread;
    std::shared_ptr<CAutoResetEvent> m_ended;
    DWORD m_threadId = 0;
};
