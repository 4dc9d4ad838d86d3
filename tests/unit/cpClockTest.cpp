#include "netlib/core/cpClock.h"

#include <gtest/gtest.h>

namespace {
uint64_t g_nowMs = 0;
uint64_t FakeClock()
{
    return g_nowMs;
}
} // namespace

TEST(cpClock, TimeOfDayAndElapsedFollowTheClock)
{
    cpSetClockForTesting(&FakeClock);
    g_nowMs = 1700000000123ull;
    cpTIMEOFDAY start;
    EXPECT_EQ(cpGetTimeOfDay(&start), VQ_OK_PLATFORM);
    EXPECT_EQ(start.seconds, 1700000000u);
    EXPECT_EQ(start.milliseconds, 123);
    uint32_t seconds = 0;
    cpGetTime(&seconds);
    EXPECT_EQ(seconds, 1700000000u);
    g_nowMs += 2877;
    EXPECT_EQ(cpGetElapsedMs(start), 2877);
    g_nowMs -= 5000; // the wall clock went back
    EXPECT_EQ(cpGetElapsedMs(start), -2123);
    cpSetClockForTesting(nullptr);
}
