#include "netlib/core/cpClock.h"
#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/core/vqCRefCounted.h"

#include <gtest/gtest.h>

namespace {

uint64_t g_nowMs = 0;
uint64_t FakeClock()
{
    return g_nowMs;
}

class Probe : public vqCRefCounted<vqIUnknown> {
public:
    explicit Probe(bool* alive) : m_alive(alive) { *m_alive = true; }
    ~Probe() override { *m_alive = false; }

private:
    bool* m_alive;
};

class CollectorTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_nowMs = 100000; // second 100
        cpSetClockForTesting(&FakeClock);
    }
    void TearDown() override
    {
        vqCGarbageCollector::DestroyInstance();
        cpSetClockForTesting(nullptr);
    }
};

} // namespace

TEST_F(CollectorTest, ReleasedAtTheFirstCollectionAfterSecondTPlusThree)
{
    bool alive = false;
    vqCGarbageCollector* collector = vqCGarbageCollector::Instance();
    {
        vqSmartPtr object(new Probe(&alive));
        collector->Add(object);
    }
    EXPECT_TRUE(alive); // the collector holds its own reference
    g_nowMs = 103999;   // second 103: not strictly past 100 + 3
    collector->Collect();
    EXPECT_TRUE(alive);
    g_nowMs = 104000;
    collector->Collect();
    EXPECT_FALSE(alive);
    EXPECT_EQ(collector->PendingCount(), 0);
}

TEST_F(CollectorTest, StopsAtTheFirstEntryNotYetDue)
{
    bool first = false, second = false;
    vqCGarbageCollector* collector = vqCGarbageCollector::Instance();
    collector->Add(vqSmartPtr(new Probe(&first)));
    g_nowMs = 102000;
    collector->Add(vqSmartPtr(new Probe(&second)));
    g_nowMs = 105000;
    collector->Collect();
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
    g_nowMs = 106000;
    collector->Collect();
    EXPECT_FALSE(second);
}

TEST_F(CollectorTest, EmptyPointerIsIgnoredAndShutdownReleasesEverything)
{
    bool alive = false;
    vqCGarbageCollector* collector = vqCGarbageCollector::Instance();
    collector->Add(vqSmartPtr());
    EXPECT_EQ(collector->PendingCount(), 0);
    collector->Add(vqSmartPtr(new Probe(&alive)));
    vqCGarbageCollector::DestroyInstance();
    EXPECT_FALSE(alive);
}

TEST_F(CollectorTest, ObjectsHandedOverDuringReleaseWaitTheirOwnTurn)
{
    // Releasing a context may hand a further object to the collector.
    struct Chain : vqCRefCounted<vqIUnknown> {
        vqSmartPtr next;
        ~Chain() override { vqCGarbageCollector::Instance()->Add(next); }
    };
    bool alive = false;
    auto* chain = new Chain();
    chain->next.Assign(new Probe(&alive));
    vqCGarbageCollector* collector = vqCGarbageCollector::Instance();
    collector->Add(vqSmartPtr(chain));
    g_nowMs = 104000;
    collector->Collect();
    EXPECT_TRUE(alive); // handed over at second 104, due after 107
    g_nowMs = 108000;
    collector->Collect();
    EXPECT_FALSE(alive);
}
