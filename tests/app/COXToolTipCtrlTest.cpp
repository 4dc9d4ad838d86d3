#include "AppTestDisplay.h"

#include "app/COXToolTipCtrl.h"

#include <wx/panel.h>
#include <wx/settings.h>

namespace {

class ToolTipCtrlTest : public AppDisplayTest {
protected:
    void SetUp() override
    {
        AppDisplayTest::SetUp();
        m_pFrame->SetPosition(wxPoint(0, 0));
        m_pFrame->Show();
        m_pParent = new wxPanel(m_pFrame, wxID_ANY, wxPoint(0, 0), wxSize(400, 300));
        m_pTip = new COXToolTipCtrl;
        ASSERT_TRUE(m_pTip->Create(m_pParent));
    }

    void TearDown() override
    {
        m_pTip->Destroy();
        AppDisplayTest::TearDown();
    }

    wxPanel* m_pParent = nullptr;
    COXToolTipCtrl* m_pTip = nullptr;
};

TEST_F(ToolTipCtrlTest, ToolOfAHiddenWindowIsNeverUnderTheCursor)
{
    auto* hidden = new wxPanel(m_pParent, 1010, wxPoint(13, 293), wxSize(100, 14));
    hidden->Hide();
    m_pTip->AddTool(hidden, wxString::FromUTF8("超高速下載只有在下載時才會共享PC資源。"));
    const wxPoint inside = hidden->GetScreenPosition() + wxPoint(5, 5);
    EXPECT_EQ(m_pTip->ToolAt(inside), -1);

    hidden->Show();
    EXPECT_EQ(m_pTip->ToolAt(inside), 0);
    EXPECT_EQ(m_pTip->ToolAt(hidden->GetScreenPosition() + wxPoint(150, 5)), -1);
}

TEST_F(ToolTipCtrlTest, AreaIsKeptInTheParentsCoordinatesAndTakesTheDefaultWidth)
{
    auto* box = new wxPanel(m_pParent, 1010, wxPoint(13, 200), wxSize(100, 14));
    m_pTip->AddTool(box, "first");
    m_pTip->SetMaxTipWidth(350);
    m_pTip->AddTool(box, "second", wxRect(10, 2, 20, 5), 7);
    ASSERT_EQ(m_pTip->Tools().size(), 2u);
    EXPECT_EQ(m_pTip->Tools()[0].area, wxRect(13, 200, 100, 14));
    EXPECT_EQ(m_pTip->Tools()[0].maxWidth, 350);
    EXPECT_EQ(m_pTip->Tools()[1].area, wxRect(23, 202, 20, 5));
    EXPECT_EQ(m_pTip->Tools()[1].id, 7);
}

TEST_F(ToolTipCtrlTest, TipIsFramedInBlackOverItsBackground)
{
    auto* box = new wxPanel(m_pParent, 1010, wxPoint(13, 200), wxSize(100, 14));
    m_pTip->AddTool(box, "tip");
    const wxSize size = m_pTip->TipSize(0);
    wxBitmap bitmap(size, 24);
    {
        wxMemoryDC dc(bitmap);
        m_pTip->Render(dc, 0);
        dc.SelectObject(wxNullBitmap);
    }
    wxImage image = bitmap.ConvertToImage();
    EXPECT_EQ(PixelAt(image, 0, 0), *wxBLACK);
    EXPECT_EQ(PixelAt(image, size.x - 1, size.y - 1), *wxBLACK);
    wxColour back = wxSystemSettings::GetColour(wxSYS_COLOUR_INFOBK);
    EXPECT_EQ(PixelAt(image, 1, 1), wxColour(back.Red(), back.Green(), back.Blue()));
    EXPECT_GT(size.x, 3 + 3);
}

} // namespace
