#include "app/CProgressState.h"

#include <gtest/gtest.h>

namespace {

struct FillCase {
    int lower, upper, pos, barWidth;
    int percent, fill;
};

class ProgressFillTest : public testing::TestWithParam<FillCase> {};

TEST_P(ProgressFillTest, PercentAndFilledPixels)
{
    const FillCase& c = GetParam();
    CProgressState state;
    state.SetRange(c.lower, c.upper);
    state.SetPos(c.pos);
    EXPECT_EQ(state.Percent(), c.percent);
    EXPECT_EQ(state.FillWidth(c.barWidth), c.fill);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressFillTest,
                         testing::Values(FillCase{0, 100, 0, 284, 0, 0},        // nothing drawn at 0
                                         FillCase{0, 100, 100, 284, 100, 284},  // the whole bar area
                                         FillCase{0, 100, 50, 284, 50, 142},    // a 286-pixel bar at 50
                                         FillCase{0, 100, 33, 284, 33, 93},
                                         FillCase{0, 100, 150, 284, 100, 284},  // clamped to the upper bound
                                         FillCase{0, 100, -20, 284, 0, 0},      // and to the lower one
                                         FillCase{10, 20, 15, 100, 50, 50},     // measured from the lower bound
                                         FillCase{-50, 50, 0, 200, 50, 100},
                                         FillCase{7, 7, 7, 100, 0, 0}));        // equal bounds: no division by 0

TEST(ProgressStateTest, PositionIsClampedIntoTheBounds)
{
    CProgressState state;
    state.SetRange(0, 100);
    state.SetPos(150);
    EXPECT_EQ(state.Pos(), 100);
    state.SetRange(0, 40);
    EXPECT_EQ(state.Pos(), 40);
    EXPECT_EQ(state.Range(), 40);
}

struct TextCase {
    const char* format;
    CProgressState::TextMode mode;
    int pos;
    const char* text;
};

class ProgressTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(ProgressTextTest, FormatFilledWithThePercentage)
{
    const TextCase& c = GetParam();
    CProgressState state;
    state.SetPos(c.pos);
    state.SetTextFormat(c.format, c.mode);
    EXPECT_EQ(state.Text(), c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressTextTest,
                         testing::Values(TextCase{"%d%%", CProgressState::TextPercent, 42, "42%"},
                                         TextCase{"%d%%", CProgressState::TextPercent, 0, "0%"},
                                         TextCase{"%d%%", CProgressState::TextNone, 42, ""},
                                         TextCase{"", CProgressState::TextPercent, 42, ""},
                                         // Anything but %d and %% is text, never a conversion.
                                         TextCase{"%s %n %d", CProgressState::TextPercent, 7, "%s %n 7"},
                                         TextCase{"100%", CProgressState::TextPercent, 7, "100%"}));

TEST(ProgressStateTest, TextColourCoversTheClientInProportion)
{
    CProgressState state;
    state.SetPos(50);
    EXPECT_EQ(state.TextFillWidth(286), 143);
    state.SetPos(0);
    EXPECT_EQ(state.TextFillWidth(286), 0);
}

} // namespace
