#pragma once
// An auto-reset event: Set wakes one waiter (or the next one to wait), and a
// successful wait resets it. Any thread may Set or Wait.

#include "platform/WinTypes.h"

#include <condition_variable>
#include <mutex>

class CAutoResetEvent {
public:
    explicit CAutoResetEvent(bool initiallySet = false) : m_set(initiallySet) {}

    void Set();
    // True when the event was set within timeoutMs (INFINITE_WAIT: no limit).
    bool Wait(DWORD timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set;
};
