#pragma once
// Wall-clock helpers. The clock is replaceable so that timers, the collector
// and the log can be tested without sleeping.

#include "netlib/core/vqResult.h"

#include <cstdint>

struct cpTIMEOFDAY {
    uint32_t seconds;      // since 1970
    uint16_t milliseconds; // 0-999
};

// Milliseconds since 1970. Null restores the system clock.
typedef uint64_t (*cpClockFn)();
void cpSetClockForTesting(cpClockFn clock);

vqRESULT cpGetTime(uint32_t* seconds);
vqRESULT cpGetTimeOfDay(cpTIMEOFDAY* now);
// Signed milliseconds from since to now.
int32_t cpGetElapsedMs(const cpTIMEOFDAY& since);
