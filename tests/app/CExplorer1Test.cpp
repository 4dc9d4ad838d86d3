#include "AppTestDisplay.h"

#include "app/CExplorer1.h"

#include <wx/mstream.h>
#include <wx/wfstream.h>

#include <memory>

namespace {

const wxColour kBlank(12, 34, 56);

// The bytes of a 4 x 3 PNG in a colour of the test's choice.
std::string PngBytes(const wxColour& colour, wxBitmapType type = wxBITMAP_TYPE_PNG)
{
    if (!wxImage::FindHandler(type)) wxImage::AddHandler(new wxPNGHandler);
    wxImage image(4, 3);
    image.SetRGB(wxRect(0, 0, 4, 3), colour.Red(), colour.Green(), colour.Blue());
    wxMemoryOutputStream out;
    image.SaveFile(out, type);
    std::string bytes(out.GetSize(), '\0');
    out.CopyTo(bytes.data(), bytes.size());
    return bytes;
}

class Explorer1Test : public AppDisplayTest {
protected:
    CExplorer1* MakeBanner()
    {
        auto* banner = new CExplorer1(m_pFrame, 1000, wxPoint(9, 3), wxSize(40, 30));
        banner->SetBackgroundColour(kBlank);
        return banner;
    }
};

TEST_F(Explorer1Test, ShowsThePictureAtTheTopLeft)
{
    CExplorer1* banner = MakeBanner();
    EXPECT_TRUE(banner->ShowContent(PngBytes(*wxRED)));
    wxImage image = RenderToImage(*banner);
    EXPECT_EQ(PixelAt(image, 0, 0), *wxRED);
    EXPECT_EQ(PixelAt(image, 3, 2), *wxRED);
    EXPECT_EQ(PixelAt(image, 4, 2), kBlank);
}

TEST_F(Explorer1Test, ContentThatIsNoPictureLeavesTheAreaBlank)
{
    CExplorer1* banner = MakeBanner();
    banner->ShowContent(PngBytes(*wxRED));
    EXPECT_FALSE(banner->ShowContent("<html>404 Not Found</html>"));
    EXPECT_FALSE(banner->ShowContent(""));
    EXPECT_EQ(PixelAt(RenderToImage(*banner), 0, 0), kBlank);
}

TEST_F(Explorer1Test, NavigateShowsWhatTheFetcherBrings)
{
    CExplorer1* banner = MakeBanner();
    wxString asked;
    banner->SetFetcher([&](const wxString& url, CExplorer1::Done done) {
        asked = url;
        done(true, PngBytes(*wxGREEN));
    });
    banner->Navigate("http://download.example/download/vx2/zdrdownload/VX2_TW.gif");
    EXPECT_EQ(asked, "http://download.example/download/vx2/zdrdownload/VX2_TW.gif");
    EXPECT_EQ(PixelAt(RenderToImage(*banner), 1, 1), *wxGREEN);
}

TEST_F(Explorer1Test, FailedFetchLeavesTheAreaBlank)
{
    CExplorer1* banner = MakeBanner();
    banner->SetFetcher([](const wxString&, CExplorer1::Done done) { done(false, ""); });
    banner->Navigate("http://unreachable.example/banner.gif");
    EXPECT_FALSE(banner->HasPicture());
    EXPECT_EQ(PixelAt(RenderToImage(*banner), 1, 1), kBlank);
}

TEST_F(Explorer1Test, LateAnswersOfOldNavigationsAndOfGoneWindowsAreDropped)
{
    CExplorer1* banner = MakeBanner();
    std::vector<CExplorer1::Done> pending;
    banner->SetFetcher([&](const wxString&, CExplorer1::Done done) { pending.push_back(done); });
    banner->Navigate("http://a.example/old.png");
    banner->Navigate("http://a.example/new.png");
    pending[1](true, PngBytes(*wxGREEN));
    pending[0](true, PngBytes(*wxRED));
    EXPECT_EQ(PixelAt(RenderToImage(*banner), 1, 1), *wxGREEN);

    banner->Navigate("http://a.example/late.png");
    delete banner;
    pending[2](true, PngBytes(*wxRED)); // must not touch the deleted window
}

} // namespace
