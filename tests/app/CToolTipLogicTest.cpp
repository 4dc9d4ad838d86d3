#include "app/CToolTipLogic.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Timers and cursor under the test's hand: Advance moves a virtual clock and
// fires every running timer whose period has come, in time order.
class FakeHost : public IToolTipHost {
public:
    void StartTimer(int timer, int periodMs) override { m_timers[timer] = {periodMs, m_nowMs + periodMs}; }
    void StopTimer(int timer) override { m_timers.erase(timer); }
    void ShowTip(int tool) override
    {
        shownTool = tool;
        ++shows;
        shownAtMs = m_nowMs;
    }
    void HideTip() override
    {
        if (shownTool >= 0) hiddenAtMs = m_nowMs;
        shownTool = -1;
    }
    int ToolUnderCursor() const override { return toolUnderCursor; }
    bool CursorInTip() const override { return cursorInTip; }

    void Advance(CToolTipLogic& logic, int ms)
    {
        const int end = m_nowMs + ms;
        for (;;) {
            int next = -1, due = end + 1;
            for (const auto& [id, timer] : m_timers) {
                if (timer.dueMs < due) {
                    due = timer.dueMs;
                    next = id;
                }
            }
            if (next < 0) break;
            m_nowMs = due;
            m_timers[next].dueMs += m_timers[next].periodMs;
            logic.OnTimer(next);
        }
        m_nowMs = end;
    }
    bool Running(int timer) const { return m_timers.count(timer) != 0; }

    int toolUnderCursor = -1;
    bool cursorInTip = false;
    int shownTool = -1;
    int shows = 0;
    int shownAtMs = -1;
    int hiddenAtMs = -1;

private:
    struct Timer {
        int periodMs, dueMs;
    };
    std::map<int, Timer> m_timers;
    int m_nowMs = 0;
};

class ToolTipLogicTest : public testing::Test {
protected:
    void EnterTool(int tool)
    {
        host.toolUnderCursor = tool;
        logic.OnMouseMove(tool, false);
    }

    FakeHost host;
    CToolTipLogic logic{host};
};

TEST_F(ToolTipLogicTest, ShowsHalfASecondAfterTheCursorEntersATool)
{
    EnterTool(0);
    host.Advance(logic, 499);
    EXPECT_EQ(host.shows, 0);
    host.Advance(logic, 1);
    EXPECT_EQ(host.shownTool, 0);
    EXPECT_EQ(host.shownAtMs, 500);
}

TEST_F(ToolTipLogicTest, MovingWithinTheToolDoesNotRestartTheDelay)
{
    EnterTool(0);
    host.Advance(logic, 300);
    logic.OnMouseMove(0, false);
    host.Advance(logic, 200);
    EXPECT_EQ(host.shownAtMs, 500);
}

TEST_F(ToolTipLogicTest, DisappearsFiveSecondsAfterShowing)
{
    EnterTool(0);
    host.Advance(logic, 500 + 4999);
    EXPECT_EQ(host.shownTool, 0);
    host.Advance(logic, 1);
    EXPECT_EQ(host.shownTool, -1);
    EXPECT_EQ(host.hiddenAtMs, 5500);
    EXPECT_FALSE(host.Running(CToolTipLogic::kHideTimer));
}

TEST_F(ToolTipLogicTest, StaysPastFiveSecondsWhileTheCursorIsOnTheTip)
{
    EnterTool(0);
    host.Advance(logic, 500);
    host.toolUnderCursor = -1;
    host.cursorInTip = true;
    logic.OnMouseMove(-1, true);
    host.Advance(logic, 8000);
    EXPECT_EQ(host.shownTool, 0);
}

TEST_F(ToolTipLogicTest, HidesWhenTheCursorMovesToAnotherToolAndShowsThatOneLater)
{
    EnterTool(0);
    host.Advance(logic, 500);
    EnterTool(1);
    EXPECT_EQ(host.shownTool, -1);
    host.Advance(logic, 500);
    EXPECT_EQ(host.shownTool, 1);
}

TEST_F(ToolTipLogicTest, ClickKeyOrOtherButtonHidesTheTip)
{
    for (int way = 0; way < 2; ++way) {
        FakeHost fresh;
        CToolTipLogic tip(fresh);
        fresh.toolUnderCursor = 0;
        tip.OnMouseMove(0, false);
        fresh.Advance(tip, 1000);
        ASSERT_EQ(fresh.shownTool, 0);
        if (way == 0) tip.OnLeftButtonDown(false);
        else tip.Dismiss();
        EXPECT_EQ(fresh.shownTool, -1) << way;
        fresh.Advance(tip, 10000);
        EXPECT_EQ(fresh.shows, 1) << "the same tool shows again only after the cursor left it";
    }
}

TEST_F(ToolTipLogicTest, PressOnTheTipItselfLeavesIt)
{
    EnterTool(0);
    host.Advance(logic, 500);
    logic.OnLeftButtonDown(true);
    EXPECT_EQ(host.shownTool, 0);
}

TEST_F(ToolTipLogicTest, NotShownWhenTheCursorLeftDuringTheDelay)
{
    EnterTool(0);
    host.Advance(logic, 200);
    host.toolUnderCursor = -1;
    logic.OnMouseMove(-1, false);
    host.Advance(logic, 1000);
    EXPECT_EQ(host.shows, 0);
    EXPECT_EQ(logic.CurrentTool(), -1);
}

TEST_F(ToolTipLogicTest, ToolOfAHiddenWindowIsNeverShown)
{
    // A hidden window is never under the cursor, so no move names its tool.
    logic.OnMouseMove(-1, false);
    host.Advance(logic, 10000);
    EXPECT_EQ(host.shows, 0);
}

struct PlaceCase {
    int cursorX, cursorY, width, height, toolTop;
    int x, y;
};

class ToolTipPlaceTest : public testing::TestWithParam<PlaceCase> {};

TEST_P(ToolTipPlaceTest, BelowTheCursorAndOnTheScreen)
{
    const PlaceCase& c = GetParam();
    CToolTipLogic::Rect tip =
        CToolTipLogic::Place(c.cursorX, c.cursorY, c.width, c.height, {0, 0, 1280, 1024}, c.toolTop);
    EXPECT_EQ(tip.x, c.x);
    EXPECT_EQ(tip.y, c.y);
    EXPECT_EQ(tip.width, c.width);
    EXPECT_EQ(tip.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolTipPlaceTest,
                         testing::Values(PlaceCase{100, 100, 200, 30, 90, 100, 120},     // 20 px below
                                         PlaceCase{1200, 100, 200, 30, 90, 1080, 120},   // kept off the right edge
                                         PlaceCase{-10, 100, 200, 30, 90, 0, 120},       // not left of the screen
                                         PlaceCase{100, 1000, 200, 30, 990, 100, 960})); // above the tool at the bottom

} // namespace
