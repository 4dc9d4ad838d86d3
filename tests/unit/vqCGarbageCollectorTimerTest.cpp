#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/runtime/cpCTimerManager.h"
#include "unit/RuntimeTestSupport.h"

#include <gtest/gtest.h>

using testrt::At;
using testrt::g_nowMs;

TEST(GarbageCollectorTimer, TheSweepReleasesHandedOverObjectsThreeToSevenSecondsLater)
{
    cpSetClockForTesting(&testrt::TestClock);
    g_nowMs = At(100);
    vqSmartPtr lock;
    lock.CreateInstance(CLSID_cpCMutex);
    ASSERT_EQ(cpCTimerManager::Create(lock.As<cpCMutex>()), VQ_OK_PLATFORM);
    vqCGarbageCollector* collector = vqCGarbageCollector::Instance();
    EXPECT_EQ(cpCTimerManager::Get()->EntryCount(), 1);

    bool destroyed = false;
    g_nowMs = At(100, 500);
    collector->Add(vqSmartPtr(new testrt::Tracked(&destroyed)));
    const uint64_t ticks[] = {At(101), At(102), At(103)};
    for (uint64_t t : ticks) {
        g_nowMs = t;
        cpCTimerManager::Get()->Tick();
    }
    EXPECT_FALSE(destroyed); // swept at 103: not yet past 100 + 3
    for (uint64_t t = At(104); t <= At(106); t += 1000) {
        g_nowMs = t;
        cpCTimerManager::Get()->Tick();
    }
    EXPECT_TRUE(destroyed); // the sweep at 106
    EXPECT_EQ(collector->PendingCount(), 0);

    vqCGarbageCollector::DestroyInstance();
    EXPECT_EQ(cpCTimerManager::Get()->EntryCount(), 0);
    cpCTimerManager::Destroy();
    cpSetClockForTesting(nullptr);
}
