#include "AppTestDisplay.h"

#include "app/CProgressST.h"
#include "app/ResourceIds.h"

namespace {

const wxColour kBar(0, 0, 255);
const wxColour kWell(40, 40, 40);
const wxColour kText(0xEF, 0xEF, 0xEF);

class ProgressSTTest : public AppDisplayTest {
protected:
    CProgressST* MakeBar(int pos, bool withText)
    {
        auto* bar = new CProgressST(m_pFrame, wxID_ANY, wxPoint(0, 0), wxSize(286, 18));
        bar->SetBitmaps(SolidBitmap(8, 16, kBar), SolidBitmap(286, 18, kWell), false);
        bar->SetRange(0, 100);
        bar->SetPos(pos);
        if (withText) bar->SetTextFormat("%d%%", CProgressState::TextPercent);
        return bar;
    }

    // Columns of the bar area (x 1..284) that hold bar colour on row 1.
    static int FilledColumns(const wxImage& image)
    {
        int filled = 0;
        for (int x = 1; x <= 284; ++x) filled += PixelAt(image, x, 1) == kBar;
        return filled;
    }
};

TEST_F(ProgressSTTest, HalfwayOn286PixelsFills142)
{
    wxImage image = RenderToImage(*MakeBar(50, false));
    EXPECT_EQ(FilledColumns(image), 142);
    EXPECT_EQ(PixelAt(image, 142, 8), kBar);
    EXPECT_EQ(PixelAt(image, 143, 8), kWell);
    EXPECT_EQ(PixelAt(image, 0, 8), kWell) << "the well's edge stays";
}

TEST_F(ProgressSTTest, FullFillsTheWholeBarArea)
{
    wxImage image = RenderToImage(*MakeBar(100, false));
    for (int y = 1; y <= 16; ++y) {
        for (int x = 1; x <= 284; ++x) ASSERT_EQ(PixelAt(image, x, y), kBar) << x << "," << y;
    }
    EXPECT_EQ(PixelAt(image, 285, 8), kWell);
    EXPECT_EQ(PixelAt(image, 100, 17), kWell);
}

// Columns holding text-coloured pixels (the text is light, the rest dark).
std::vector<int> TextColumns(const wxImage& image)
{
    std::vector<int> columns;
    for (int x = 0; x < image.GetWidth(); ++x) {
        for (int y = 0; y < image.GetHeight(); ++y) {
            if (image.GetRed(x, y) > 150 && image.GetGreen(x, y) > 150) {
                columns.push_back(x);
                break;
            }
        }
    }
    return columns;
}

TEST_F(ProgressSTTest, ZeroDrawsNoBarAndACentredZeroPercent)
{
    CProgressST* bar = MakeBar(0, true);
    wxImage image = RenderToImage(*bar);
    int barPixels = 0;
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 286; ++x) barPixels += image.GetBlue(x, y) > image.GetRed(x, y) + 50;
    }
    EXPECT_EQ(barPixels, 0);

    std::vector<int> columns = TextColumns(image);
    ASSERT_FALSE(columns.empty()) << "no text drawn";
    wxMemoryDC measure;
    measure.SetFont(bar->GetFont());
    const int width = measure.GetTextExtent("0%").x;
    const int left = columns.front(), right = columns.back();
    EXPECT_NEAR(right - left + 1, width, 2);
    EXPECT_NEAR((left + right) / 2.0, 143, 2) << "centred";
}

TEST_F(ProgressSTTest, TextOverTheBarIsDrawnAgainInItsOwnColour)
{
    CProgressST* bar = MakeBar(100, true);
    bar->SetTextColours(kText, wxColour(255, 255, 0));
    wxImage image = RenderToImage(*bar);
    int yellow = 0, light = 0;
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 286; ++x) {
            wxColour c = PixelAt(image, x, y);
            yellow += c == wxColour(255, 255, 0);
            light += c == kText;
        }
    }
    EXPECT_GT(yellow, 0);
    EXPECT_EQ(light, 0) << "the whole text lies over the bar";
}

TEST_F(ProgressSTTest, WithoutABackgroundPictureAPlainWellWithADarkerTopAndLeft)
{
    auto* bar = new CProgressST(m_pFrame, wxID_ANY, wxPoint(0, 0), wxSize(100, 18));
    bar->SetBitmaps(SolidBitmap(8, 16, kBar), wxBitmap(), false);
    wxImage image = RenderToImage(*bar);
    EXPECT_EQ(PixelAt(image, 50, 0), wxColour(0xB3, 0xB3, 0xB3));
    EXPECT_EQ(PixelAt(image, 0, 8), wxColour(0xB3, 0xB3, 0xB3));
    EXPECT_EQ(PixelAt(image, 50, 8), wxColour(0xDC, 0xDC, 0xDC));
}

TEST_F(ProgressSTTest, PicturesOfTheDialogLoad)
{
    CProgressST bar(m_pFrame, wxID_ANY, wxPoint(0, 0), wxSize(286, 18));
    EXPECT_TRUE(bar.SetBitmaps(IDB_PROGRESS_BAR, IDB_PROGRESS_BACKGROUND, false));
    EXPECT_FALSE(bar.SetBitmaps(999, IDB_PROGRESS_BACKGROUND, false));
}

} // namespace
