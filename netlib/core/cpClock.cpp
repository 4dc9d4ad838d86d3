#include "netlib/core/cpClock.h"

#include <atomic>
#include <chrono>

namespace {

uint64_t SystemClock()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::atomic<cpClockFn> g_clock{&SystemClock};

} // namespace

void cpSetClockForTesting(cpClockFn clock)
{
    g_clock.store(clock ? clock : &SystemClock);
}

vqRESULT cpGetTime(uint32_t* seconds)
{
    if (seconds) *seconds = static_cast<uint32_t>(g_clock.load()() / 1000);
    return VQ_OK_PLATFORM;
}

vqRESULT cpGetTimeOfDay(cpTIMEOFDAY* now)
{
    if (now) {
        uint64_t ms = g_clock.load()();
        now->seconds = static_cast<uint32_t>(ms / 1000);
        now->milliseconds = static_cast<uint16_t>(ms % 1000);
    }
    return VQ_OK_PLATFORM;
}

int32_t cpGetElapsedMs(const cpTIMEOFDAY& since)
{
    cpTIMEOFDAY now;
    cpGetTimeOfDay(&now);
    // Computed in 64 bits and truncated, as 32-bit wrap-around arithmetic would.
    int64_t nowMs = static_cast<int64_t>(now.seconds) * 1000 + now.milliseconds;
    int64_t sinceMs = static_cast<int64_t>(since.seconds) * 1000 + since.milliseconds;
    return static_cast<int32_t>(nowMs - sinceMs);
}
