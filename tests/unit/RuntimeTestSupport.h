#pragma once
// Shared pieces of the network runtime's tests: a settable clock and an
// object that reports its own destruction.

#include "netlib/core/cpClock.h"
#include "netlib/core/vqCRefCounted.h"

#include <cstdint>

namespace testrt {

inline uint64_t g_nowMs = 0;
inline uint64_t TestClock()
{
    return g_nowMs;
}

// Milliseconds since 1970 of seconds and milliseconds.
constexpr uint64_t At(uint64_t seconds, uint64_t milliseconds = 0)
{
    return seconds * 1000 + milliseconds;
}

class Tracked : public vqCRefCounted<vqIUnknown> {
public:
    explicit Tracked(bool* destroyed) : m_destroyed(destroyed) {}
    ~Tracked() override { *m_destroyed = true; }

private:
    bool* m_destroyed;
};

} // namespace testrt
