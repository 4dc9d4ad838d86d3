#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/runtime/cpCTimer.h"
#include "netlib/runtime/cpCTimerManager.h"
#include "unit/MessagePump.h"
#include "unit/RuntimeTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using testrt::At;
using testrt::g_nowMs;

namespace {

// 12:00:00 on some day, in seconds since 1970.
constexpr uint64_t kNoon = 1700049600;

struct Probe {
    int fired = 0;
    std::vector<cpCTimer*> toStop;
    vqSmartPtr* toRelease = nullptr;
    cpCTimer* self = nullptr;
};

void OnFire(void* data)
{
    auto* probe = static_cast<Probe*>(data);
    ++probe->fired;
    for (cpCTimer* timer : probe->toStop) timer->Stop();
    if (probe->toRelease) {
        probe->self->Stop();
        probe->toRelease->Assign(nullptr);
    }
}

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_nowMs = At(kNoon);
        cpSetClockForTesting(&testrt::TestClock);
        m_lock.CreateInstance(CLSID_cpCMutex);
        ASSERT_EQ(cpCTimerManager::Create(m_lock.As<cpCMutex>()), VQ_OK_PLATFORM);
    }
    void TearDown() override
    {
        cpCTimerManager::Destroy();
        cpSetClockForTesting(nullptr);
    }

    cpCTimer* Make(vqSmartPtr& holder)
    {
        holder.CreateInstance(CLSID_cpCTimer);
        return holder.As<cpCTimer>();
    }

    void TickAt(uint64_t ms)
    {
        g_nowMs = ms;
        cpCTimerManager::Get()->Tick();
    }

    vqSmartPtr m_lock;
};

} // namespace

TEST_F(TimerTest, DueTimeCountsFromTheStartWithTenMillisecondsOfSlack)
{
    struct Case {
        uint64_t tickMs;
        bool fires;
    };
    const Case cases[] = {{41, true}, {39, false}, {40, true}, {1050, true}};
    for (const Case& c : cases) {
        vqSmartPtr holder;
        Probe probe;
        g_nowMs = At(kNoon, 950);
        cpCTimer* timer = Make(holder);
        timer->Start(100, &OnFire, &probe, 7, vqSmartPtr());
        EXPECT_EQ(timer->Due().seconds, kNoon + 1);
        EXPECT_EQ(timer->Due().milliseconds, 50);
        TickAt(At(kNoon + 1, c.tickMs % 1000) + (c.tickMs / 1000) * 1000);
        EXPECT_EQ(probe.fired, c.fires ? 1 : 0) << "tick at 12:00:01." << c.tickMs;
        timer->Stop();
    }
}

TEST_F(TimerTest, PeriodsCountFromTheStartSoLateTicksDoNotDrift)
{
    vqSmartPtr holder;
    Probe probe;
    cpCTimer* timer = Make(holder);
    timer->Start(1000, &OnFire, &probe, 7, vqSmartPtr());
    TickAt(At(kNoon + 1, 90)); // fired 90 ms late
    EXPECT_EQ(probe.fired, 1);
    EXPECT_EQ(timer->Due().seconds, kNoon + 2);
    EXPECT_EQ(timer->Due().milliseconds, 0);
    timer->Stop();
}

TEST_F(TimerTest, AGapOfThreeAndAHalfSecondsRebasesEveryTimer)
{
    vqSmartPtr slowHolder, fastHolder;
    Probe slow, fast;
    Make(slowHolder)->Start(1000, &OnFire, &slow, 1, vqSmartPtr());
    Make(fastHolder)->Start(200, &OnFire, &fast, 2, vqSmartPtr());
    TickAt(At(kNoon, 100));
    TickAt(At(kNoon + 3, 600)); // the thread was blocked
    EXPECT_EQ(slow.fired, 0);
    EXPECT_EQ(fast.fired, 0);
    TickAt(At(kNoon + 4, 589));
    EXPECT_EQ(slow.fired, 0);
    TickAt(At(kNoon + 4, 600));
    EXPECT_EQ(slow.fired, 1);
    slowHolder.As<cpCTimer>()->Stop();
    fastHolder.As<cpCTimer>()->Stop();
}

TEST_F(TimerTest, ACallbackThatStopsAnotherDueTimerKeepsItFromFiring)
{
    vqSmartPtr firstHolder, secondHolder;
    Probe first, second;
    cpCTimer* firstTimer = Make(firstHolder);
    cpCTimer* secondTimer = Make(secondHolder);
    first.toStop.push_back(secondTimer);
    firstTimer->Start(100, &OnFire, &first, 1, vqSmartPtr());
    secondTimer->Start(100, &OnFire, &second, 2, vqSmartPtr());
    TickAt(At(kNoon, 100));
    EXPECT_EQ(first.fired, 1);
    EXPECT_EQ(second.fired, 0);
    EXPECT_FALSE(secondTimer->IsRunning());
    firstTimer->Stop();
}

TEST_F(TimerTest, ACallbackMayReleaseTheLastReferenceToItsOwnTimer)
{
    bool lockDestroyed = false;
    vqSmartPtr holder;
    Probe probe;
    probe.self = Make(holder);
    probe.toRelease = &holder;
    // The timer keeps its lock object until it is destroyed.
    probe.self->Start(100, &OnFire, &probe, 1, vqSmartPtr(new testrt::Tracked(&lockDestroyed)));
    EXPECT_FALSE(lockDestroyed);
    TickAt(At(kNoon, 100));
    EXPECT_EQ(probe.fired, 1);
    EXPECT_EQ(holder.Get(), nullptr);
    EXPECT_TRUE(lockDestroyed);
    EXPECT_EQ(cpCTimerManager::Get()->EntryCount(), 0);
}

TEST_F(TimerTest, AShortPeriodFiresOncePerTickAndFallsBehind)
{
    vqSmartPtr holder;
    Probe probe;
    cpCTimer* timer = Make(holder);
    timer->Start(50, &OnFire, &probe, 1, vqSmartPtr());
    for (int tick = 1; tick <= 5; ++tick) TickAt(At(kNoon, 100 * tick));
    EXPECT_EQ(probe.fired, 5);
    // Started at .000: five periods of 50 ms counted, the sixth is due.
    EXPECT_EQ(timer->Due().milliseconds, 300);
    timer->Stop();
}

TEST_F(TimerTest, RestartPostponesARunningTimerByAWholePeriodFromNow)
{
    vqSmartPtr holder;
    Probe probe;
    cpCTimer* timer = Make(holder);
    timer->Start(5000, &OnFire, &probe, 1, vqSmartPtr());
    g_nowMs = At(kNoon + 4);
    timer->Restart();
    TickAt(At(kNoon + 5));
    TickAt(At(kNoon + 7));
    EXPECT_EQ(probe.fired, 0);
    TickAt(At(kNoon + 9));
    EXPECT_EQ(probe.fired, 1);
    timer->Stop();
}

TEST_F(TimerTest, StartingARunningTimerAgainKeepsOneEntryWithTheNewTag)
{
    vqSmartPtr holder;
    Probe probe;
    cpCTimer* timer = Make(holder);
    timer->Start(100, &OnFire, &probe, 1, vqSmartPtr());
    timer->Start(100, &OnFire, &probe, 2, vqSmartPtr());
    EXPECT_EQ(cpCTimerManager::Get()->EntryCount(), 1);
    uint32_t tag = 0;
    EXPECT_TRUE(cpCTimerManager::Get()->FindTag(timer, &tag));
    EXPECT_EQ(tag, 2u);
    TickAt(At(kNoon, 100));
    EXPECT_EQ(probe.fired, 1);
    timer->Stop();
    EXPECT_EQ(cpCTimerManager::Get()->EntryCount(), 0);
}

TEST_F(TimerTest, ATimerReleasedWhileRunningLeavesTheManager)
{
    vqSmartPtr holder;
    Probe probe;
    Make(holder)->Start(100, &OnFire, &probe, 1, vqSmartPtr());
    holder.Assign(nullptr);
    EXPECT_EQ(cpCTimerManager::Get()->EntryCount(), 0);
    TickAt(At(kNoon, 100));
    EXPECT_EQ(probe.fired, 0);
}

TEST_F(TimerTest, DueTimeStaysRightOncePeriodsAddUpBeyondThirtyTwoBits)
{
    vqSmartPtr holder;
    Probe probe;
    cpCTimer* timer = Make(holder);
    const uint32_t period = 4000000000u; // two periods exceed 2^32 ms
    timer->Start(period, &OnFire, &probe, 1, vqSmartPtr());
    TickAt(At(kNoon + 4000000));
    ASSERT_EQ(probe.fired, 1);
    EXPECT_EQ(timer->Due().seconds, kNoon + 8000000);
    TickAt(At(kNoon + 4000001));
    EXPECT_EQ(probe.fired, 1);
    timer->Stop();
}

TEST_F(TimerTest, WithoutAManagerAStartedTimerNeverFires)
{
    cpCTimerManager::Destroy();
    vqSmartPtr holder;
    Probe probe;
    cpCTimer* timer = Make(holder);
    EXPECT_EQ(timer->Start(100, &OnFire, &probe, 1, vqSmartPtr()), VQ_OK_PLATFORM);
    EXPECT_EQ(timer->Stop(), VQ_OK_PLATFORM);
    ASSERT_EQ(cpCTimerManager::Create(m_lock.As<cpCMutex>()), VQ_OK_PLATFORM);
}

TEST(TimerManager, TheThreadTimerDrivesTimersThroughTheMessageLoop)
{
    vqSmartPtr lock;
    lock.CreateInstance(CLSID_cpCMutex);
    ASSERT_EQ(cpCTimerManager::Create(lock.As<cpCMutex>()), VQ_OK_PLATFORM);
    vqSmartPtr holder;
    holder.CreateInstance(CLSID_cpCTimer);
    Probe probe;
    holder.As<cpCTimer>()->Start(150, &OnFire, &probe, 1, vqSmartPtr());
    EXPECT_TRUE(testpump::PumpUntil([&probe] { return probe.fired >= 2; }));
    holder.As<cpCTimer>()->Stop();
    cpCTimerManager::Destroy();
}
