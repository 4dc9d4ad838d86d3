#include "AppTestDisplay.h"

#include "app/CGraphCtrl.h"

namespace {

const wxColour kBackground(10, 20, 30);

class GraphCtrlTest : public AppDisplayTest {
protected:
    CGraphCtrl* MakeGraph()
    {
        auto* graph = new CGraphCtrl(m_pFrame, wxID_ANY, wxPoint(0, 0), wxSize(342, 69));
        graph->SetBackgroundBitmap(SolidBitmap(342, 69, kBackground));
        return graph;
    }

    static int BarColumns(const wxImage& image, int row)
    {
        int count = 0;
        for (int x = 0; x < image.GetWidth(); ++x) count += PixelAt(image, x, row) == CGraphCtrl::kBarColour;
        return count;
    }
};

TEST_F(GraphCtrlTest, SampleOf250DrawsAFullHeightBarOnTheRight)
{
    CGraphCtrl* graph = MakeGraph();
    graph->AddSample(250);
    wxImage image = RenderToImage(*graph);
    for (int y = 0; y < 69; ++y) {
        for (int x = 337; x <= 339; ++x) ASSERT_EQ(PixelAt(image, x, y), CGraphCtrl::kBarColour) << x << "," << y;
    }
    EXPECT_EQ(PixelAt(image, 336, 40), kBackground);
    EXPECT_EQ(PixelAt(image, 340, 40), kBackground);
    EXPECT_EQ(BarColumns(image, 0), 3);
}

TEST_F(GraphCtrlTest, ZeroDrawsNoBarAndHalfDrawsHalf)
{
    CGraphCtrl* graph = MakeGraph();
    graph->AddSample(50);
    graph->AddSample(0);
    wxImage image = RenderToImage(*graph);
    EXPECT_EQ(BarColumns(image, 68), 3) << "only the 50 sample reaches the bottom row";
    EXPECT_EQ(PixelAt(image, 333, 68), CGraphCtrl::kBarColour);
    EXPECT_EQ(PixelAt(image, 333, 69 - 34), CGraphCtrl::kBarColour);
    EXPECT_EQ(PixelAt(image, 333, 69 - 35), kBackground);
}

} // namespace
