// The engine's rate samples and their mean over the last ten seconds.

#include "service/RateMeter.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

TEST(RateMeterTest, TheMeanCountsRecentSamplesOnly)
{
    struct Case {
        const char* what;
        std::vector<std::pair<int64_t, int32_t>> samples; // (time, rate), oldest first
        int32_t average;
    } cases[] = {
        {"empty", {}, 0},
        {"one", {{5, 700}}, 700},
        {"a sample at time 0 never counts", {{0, 900}}, 0},
        {"time 0 beside others", {{0, 900}, {1, 100}, {2, 300}}, 200},
        {"integer division", {{1, 1}, {2, 2}}, 1},
        {"exactly ten seconds older counts", {{10, 100}, {20, 300}}, 200},
        {"eleven seconds older does not", {{9, 100}, {20, 300}}, 300},
        {"a later time than the newest counts", {{30, 100}, {20, 300}}, 200},
        // Eleven samples: the first is overwritten by the last.
        {"the eleventh replaces the first",
         {{1, 1000}, {2, 10}, {3, 10}, {4, 10}, {5, 10}, {6, 10}, {7, 10}, {8, 10}, {9, 10}, {10, 10}, {11, 10}},
         10},
        {"large rates do not overflow",
         {{1, 2000000000}, {2, 2000000000}, {3, 2000000000}}, 2000000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RateMeter meter;
        meter.Reset();
        for (const auto& sample : c.samples) meter.Add(sample.first, sample.second);
        EXPECT_EQ(meter.Average(), c.average);
    }
}

TEST(RateMeterTest, ResetEmptiesItAndThePositionWraps)
{
    RateMeter meter;
    meter.Reset();
    EXPECT_EQ(meter.position, -1);
    for (int i = 0; i < RateMeter::kSamples; ++i) meter.Add(i + 1, 10);
    EXPECT_EQ(meter.position, 9);
    meter.Add(11, 20);
    EXPECT_EQ(meter.position, 0);
    meter.Reset();
    EXPECT_EQ(meter.position, -1);
    EXPECT_EQ(meter.Average(), 0);
    for (const auto& sample : meter.samples) EXPECT_EQ(sample.time, 0);
}
