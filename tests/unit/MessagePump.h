#pragma once
// Drives the calling thread's message loop in tests: waits on events, never
// on the clock, with generous limits for a busy machine.

#include "platform/MessageLoop.h"

#include <chrono>
#include <functional>

namespace testpump {

// Dispatches messages until done() holds; false when limitMs passed first.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        MSG msg;
        if (GetMessageTimeout(&msg, 20)) DispatchMessage(&msg);
    }
    return true;
}

// Dispatches whatever arrives during periodMs: used to show that something
// does not happen.
inline void PumpFor(int periodMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs);
    while (std::chrono::steady_clock::now() < deadline) {
        MSG msg;
        if (GetMessageTimeout(&msg, 10)) DispatchMessage(&msg);
    }
}

} // namespace testpump
