#include "platform/CAutoResetEvent.h"

#include <gtest/gtest.h>

#include <thread>

TEST(CAutoResetEvent, TimedWaitTimesOutWhenNotSet)
{
    CAutoResetEvent event;
    EXPECT_FALSE(event.Wait(20));
}

TEST(CAutoResetEvent, SuccessfulWaitResetsTheEvent)
{
    CAutoResetEvent event;
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(10));
}

TEST(CAutoResetEvent, SetFromAnotherThreadWakesTheWaiter)
{
    CAutoResetEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(INFINITE_WAIT));
    setter.join();
}
