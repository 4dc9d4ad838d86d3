#include "app/CButtonBehaviour.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Image = CButtonBehaviour::Image;

struct ImageCase {
    bool checkBox;
    bool hovered, held, checked, disabled;
    bool hasOut, hasDisabled;
    Image expected;
};

class ButtonImageTest : public testing::TestWithParam<ImageCase> {};

TEST_P(ButtonImageTest, ImageForTheState)
{
    const ImageCase& c = GetParam();
    CButtonBehaviour button(c.checkBox);
    if (c.hovered) button.OnMouseMove(true, false);
    button.SetHeld(c.held);
    button.SetCheck(c.checked ? 1 : 0);
    EXPECT_EQ(button.ImageToDraw(c.disabled, c.hasOut, c.hasDisabled), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ButtonImageTest,
    testing::Values(
        // Push buttons: normal, hovered, held, disabled.
        ImageCase{false, false, false, false, false, true, true, Image::ImageOut},
        ImageCase{false, true, false, false, false, true, true, Image::ImageIn},
        ImageCase{false, false, true, false, false, true, true, Image::ImageIn},
        ImageCase{false, false, false, false, true, true, true, Image::ImageDisabled},
        // Without its own disabled picture a button keeps its normal one.
        ImageCase{false, false, false, false, true, true, false, Image::ImageOut},
        ImageCase{false, false, false, false, false, false, false, Image::ImageIn},
        // Check boxes: checked shows "in", unchecked "out", hover changes nothing.
        ImageCase{true, false, false, true, false, true, false, Image::ImageIn},
        ImageCase{true, false, false, false, false, true, false, Image::ImageOut},
        ImageCase{true, true, false, false, false, true, false, Image::ImageOut}));

TEST(ButtonBehaviourTest, HeldPushButtonShiftsByOnePixelCheckBoxDoesNot)
{
    CButtonBehaviour push(false), check(true);
    EXPECT_EQ(push.PressedShift(), 0);
    push.SetHeld(true);
    check.SetHeld(true);
    EXPECT_EQ(push.PressedShift(), 1);
    EXPECT_EQ(check.PressedShift(), 0);
}

TEST(ButtonBehaviourTest, CheckBoxTogglesBeforeTheParentHears)
{
    CButtonBehaviour check(true);
    std::vector<int> seenByParent;
    auto notify = [&] { seenByParent.push_back(check.GetCheck()); };
    check.Click(notify);
    check.Click(notify);
    EXPECT_EQ(seenByParent, (std::vector<int>{1, 0}));
}

TEST(ButtonBehaviourTest, SetCheckOneOrTwoChecksAndPushButtonsStayUnchecked)
{
    CButtonBehaviour check(true), push(false);
    check.SetCheck(2);
    EXPECT_EQ(check.GetCheck(), 1);
    check.SetCheck(3);
    EXPECT_EQ(check.GetCheck(), 0);
    push.SetCheck(1);
    EXPECT_EQ(push.GetCheck(), 0);
    int clicks = 0;
    push.Click([&] { ++clicks; });
    EXPECT_EQ(push.GetCheck(), 0);
    EXPECT_EQ(clicks, 1);
}

TEST(ButtonBehaviourTest, HoverStartsOnlyWithoutADragFromElsewhere)
{
    CButtonBehaviour button(false);
    EXPECT_FALSE(button.OnMouseMove(true, true));
    EXPECT_FALSE(button.IsMouseOver());
    EXPECT_TRUE(button.OnMouseMove(true, false));
    EXPECT_FALSE(button.OnMouseMove(true, true)); // already hovering: no change
    EXPECT_TRUE(button.IsMouseOver());
    EXPECT_TRUE(button.OnMouseMove(false, true)); // moved off while held
    EXPECT_FALSE(button.IsMouseOver());
    EXPECT_FALSE(button.CancelHover());
}

TEST(ButtonBehaviourTest, CaptionColoursFollowHoverThenFocus)
{
    CButtonBehaviour button(false);
    EXPECT_EQ(button.CaptionColours(false), CButtonBehaviour::ColoursOut);
    EXPECT_EQ(button.CaptionColours(true), CButtonBehaviour::ColoursFocus);
    button.OnMouseMove(true, false);
    EXPECT_EQ(button.CaptionColours(true), CButtonBehaviour::ColoursIn);
}

} // namespace
