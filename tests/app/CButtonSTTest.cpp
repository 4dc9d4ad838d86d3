#include "AppTestDisplay.h"
#include "PatternPanel.h"

#include "app/CButtonST.h"
#include "app/ResourceIds.h"

#include <vector>

namespace {

const wxColour kKey(0xFF, 0x00, 0xFF);
const wxColour kIn(200, 0, 0);
const wxColour kOut(0, 160, 0);
const wxColour kDisabled(90, 90, 90);
const wxPoint kAt(50, 60);

class ButtonSTTest : public AppDisplayTest {
protected:
    void SetUp() override
    {
        AppDisplayTest::SetUp();
        m_pPanel = new PatternPanel(m_pFrame);
    }

    // A skinned button as the dialog sets one up: three 20 x 10 pictures
    // keyed on magenta at their top-left pixel, no border, transparent.
    CButtonST* MakeButton(CButtonST::Kind kind = CButtonST::PushButton)
    {
        auto* button = new CButtonST(m_pPanel, 1011, "", kAt, wxDefaultSize, kind);
        EXPECT_EQ(button->SetBitmaps(SolidBitmap(20, 10, kIn, kKey), kKey, SolidBitmap(20, 10, kOut, kKey), kKey,
                                     SolidBitmap(20, 10, kDisabled, kKey), kKey),
                  CButtonST::BitmapsOk);
        button->DrawBorder(false, true);
        button->DrawTransparent(false);
        button->SizeToContent();
        return button;
    }

    static void Send(wxWindow* window, wxEventType type, int x = 5, int y = 5)
    {
        wxMouseEvent event(type);
        event.SetEventObject(window);
        event.SetPosition(wxPoint(x, y));
        event.m_leftDown = type == wxEVT_LEFT_DOWN || type == wxEVT_LEFT_DCLICK;
        window->ProcessWindowEvent(event);
    }

    PatternPanel* m_pPanel = nullptr;
};

TEST_F(ButtonSTTest, MagentaPixelShowsTheWindowsBackground)
{
    CButtonST* button = MakeButton();
    wxImage image = RenderToImage(*button);
    EXPECT_EQ(PixelAt(image, 0, 0), PatternPanel::At(kAt.x, kAt.y));
    EXPECT_EQ(PixelAt(image, 1, 0), kOut);
}

TEST_F(ButtonSTTest, MagentaShowsTheButtonColourWhenNotTransparent)
{
    auto* button = new CButtonST(m_pPanel, wxID_ANY, "", kAt);
    button->SetBitmaps(SolidBitmap(20, 10, kIn, kKey), kKey, SolidBitmap(20, 10, kOut, kKey), kKey, wxBitmap(),
                       wxColour());
    button->DrawBorder(false, false);
    button->SizeToContent();
    wxImage image = RenderToImage(*button);
    EXPECT_EQ(PixelAt(image, 0, 0), *wxWHITE);
}

TEST_F(ButtonSTTest, SizeToContentTakesThePicturesSize)
{
    EXPECT_EQ(MakeButton()->GetSize(), wxSize(20, 10));
}

TEST_F(ButtonSTTest, NormalHoveredHeldAndDisabledPictures)
{
    CButtonST* button = MakeButton();
    EXPECT_EQ(PixelAt(RenderToImage(*button), 10, 5), kOut);

    Send(button, wxEVT_MOTION);
    ASSERT_TRUE(button->IsMouseOver());
    wxImage hovered = RenderToImage(*button);
    EXPECT_EQ(PixelAt(hovered, 10, 5), kIn);
    EXPECT_EQ(PixelAt(hovered, 0, 0), PatternPanel::At(kAt.x, kAt.y));

    Send(button, wxEVT_LEFT_DOWN);
    wxImage held = RenderToImage(*button);
    // Shifted one pixel right and down: the key pixel moved to (1, 1).
    EXPECT_EQ(PixelAt(held, 1, 1), PatternPanel::At(kAt.x + 1, kAt.y + 1));
    EXPECT_EQ(PixelAt(held, 0, 0), PatternPanel::At(kAt.x, kAt.y));
    EXPECT_EQ(PixelAt(held, 2, 1), kIn);
    Send(button, wxEVT_LEFT_UP);

    Send(button, wxEVT_LEAVE_WINDOW);
    button->Disable();
    EXPECT_EQ(PixelAt(RenderToImage(*button), 10, 5), kDisabled);
}

TEST_F(ButtonSTTest, CheckBoxTogglesBeforeTheParentsHandlerAndTwiceOnADoubleClick)
{
    CButtonST* box = MakeButton(CButtonST::CheckBox);
    std::vector<int> seen;
    m_pPanel->Bind(wxEVT_BUTTON, [&](wxCommandEvent& event) { seen.push_back(box->GetCheck() + 10 * event.GetInt()); },
                   1011);
    Send(box, wxEVT_LEFT_DOWN);
    Send(box, wxEVT_LEFT_UP);
    EXPECT_EQ(seen, (std::vector<int>{11}));
    EXPECT_EQ(PixelAt(RenderToImage(*box), 10, 5), kIn) << "checked shows the in picture";

    // A double click as GTK reports it: press, release, press, double, release.
    for (wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DOWN, wxEVT_LEFT_DCLICK, wxEVT_LEFT_UP})
        Send(box, type);
    EXPECT_EQ(seen, (std::vector<int>{11, 0, 11}));
    EXPECT_EQ(box->GetCheck(), 1);
}

TEST_F(ButtonSTTest, ReleaseOutsideTheButtonIsNoClick)
{
    CButtonST* button = MakeButton();
    int clicks = 0;
    m_pPanel->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) { ++clicks; });
    Send(button, wxEVT_LEFT_DOWN);
    Send(button, wxEVT_LEFT_UP, 100, 5);
    EXPECT_EQ(clicks, 0);
}

TEST_F(ButtonSTTest, MissingPictureIsRefused)
{
    auto* button = new CButtonST(m_pPanel, wxID_ANY, "", kAt);
    EXPECT_EQ(button->SetBitmaps(999, kKey, IDB_START_OUT, kKey), CButtonST::BitmapsNoSize);
    EXPECT_EQ(button->SetBitmaps(IDB_START_IN, kKey, IDB_START_OUT, kKey, IDB_START_DISABLED, kKey),
              CButtonST::BitmapsOk);
}

} // namespace
