#include "AppTestDisplay.h"

#include "app/CTransparentStatic2.h"
#include "PatternPanel.h"

namespace {

class TransparentStatic2Test : public AppDisplayTest {};

TEST_F(TransparentStatic2Test, ShorterTextLeavesNoTraceOfTheLongerOne)
{
    auto* panel = new PatternPanel(m_pFrame);
    auto* label = new CTransparentStatic2(panel, wxID_ANY, "1023.99 MB of a long label", wxPoint(40, 30),
                                          wxSize(263, 14));
    wxBitmap screen(label->GetClientSize(), 24);
    wxMemoryDC dc(screen);
    label->Render(dc);
    label->SetLabel("1 KB");
    label->Render(dc);
    dc.SelectObject(wxNullBitmap);
    wxImage afterChange = screen.ConvertToImage();

    auto* fresh = new CTransparentStatic2(panel, wxID_ANY, "1 KB", wxPoint(40, 30), wxSize(263, 14));
    wxImage expected = RenderToImage(*fresh);
    ASSERT_EQ(afterChange.GetSize(), expected.GetSize());
    EXPECT_EQ(0, memcmp(afterChange.GetData(), expected.GetData(), 263 * 14 * 3));
}

TEST_F(TransparentStatic2Test, TextStandsOnTheParentsBackgroundInLightGrey)
{
    auto* panel = new PatternPanel(m_pFrame);
    auto* label = new CTransparentStatic2(panel, wxID_ANY, "", wxPoint(40, 30), wxSize(100, 14));
    wxImage empty = RenderToImage(*label);
    EXPECT_EQ(PixelAt(empty, 0, 0), PatternPanel::At(40, 30));
    EXPECT_EQ(PixelAt(empty, 99, 13), PatternPanel::At(139, 43));

    label->SetLabel("WWWW");
    wxImage text = RenderToImage(*label);
    int light = 0;
    for (int y = 0; y < 14; ++y) {
        for (int x = 0; x < 100; ++x) light += PixelAt(text, x, y) == wxColour(0xEF, 0xEF, 0xEF);
    }
    EXPECT_GT(light, 10);
}

TEST_F(TransparentStatic2Test, GrownControlGetsBackgroundUnderAllOfIt)
{
    auto* panel = new PatternPanel(m_pFrame);
    auto* label = new CTransparentStatic2(panel, wxID_ANY, "", wxPoint(40, 30), wxSize(270, 14));
    RenderToImage(*label);
    label->SetSize(270, 42);
    wxImage grown = RenderToImage(*label);
    EXPECT_EQ(PixelAt(grown, 10, 41), PatternPanel::At(50, 71));
}

} // namespace
