#include "app/CGraphSamples.h"

#include <gtest/gtest.h>

namespace {

struct SampleCase {
    int value, stored;
};

class GraphSampleTest : public testing::TestWithParam<SampleCase> {};

TEST_P(GraphSampleTest, StoredWithinTheFullScale)
{
    CGraphSamples samples;
    samples.AddSample(GetParam().value);
    EXPECT_EQ(samples.Sample(CGraphSamples::kCount - 1), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Cases, GraphSampleTest,
                         testing::Values(SampleCase{250, 100}, SampleCase{100, 100}, SampleCase{42, 42},
                                         SampleCase{0, 0}, SampleCase{-3, 0}));

TEST(GraphSamplesTest, NewestIsLastAndOldestDropsOut)
{
    CGraphSamples samples;
    for (int i = 1; i <= CGraphSamples::kCount + 2; ++i) samples.AddSample(i);
    EXPECT_EQ(samples.Sample(0), 3);
    EXPECT_EQ(samples.Sample(CGraphSamples::kCount - 1), CGraphSamples::kCount + 2);
}

TEST(GraphSamplesTest, BarsOfTheDialogsGraphStandFivePixelsApart)
{
    EXPECT_EQ(CGraphSamples::BarLeft(0, 342), 2);
    EXPECT_EQ(CGraphSamples::BarLeft(1, 342), 7);
    EXPECT_EQ(CGraphSamples::BarLeft(67, 342), 337);
}

TEST(GraphSamplesTest, BarHeightIsTheShareOfTheClientHeight)
{
    CGraphSamples samples;
    samples.AddSample(50);
    samples.AddSample(100);
    EXPECT_EQ(samples.BarHeight(67, 69), 69);
    EXPECT_EQ(samples.BarHeight(66, 69), 34);
    EXPECT_EQ(samples.BarHeight(0, 69), 0);
}

} // namespace
