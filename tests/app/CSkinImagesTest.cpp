#include "AppTestDisplay.h"

#include "app/CSkinImages.h"
#include "app/ResourceIds.h"

namespace {

struct ImageCase {
    int id;
    int width, height;
    bool keyed; // a button picture: magenta corners show the background
};

class SkinImagesTest : public AppDisplayTest, public testing::WithParamInterface<ImageCase> {};

TEST_P(SkinImagesTest, PictureHasTheSizeTheWindowNeeds)
{
    const ImageCase& c = GetParam();
    wxBitmap bitmap = CSkinImages::Load(c.id);
    ASSERT_TRUE(bitmap.IsOk()) << CSkinImages::FileName(c.id);
    EXPECT_EQ(bitmap.GetSize(), wxSize(c.width, c.height)) << CSkinImages::FileName(c.id);
    wxImage image = bitmap.ConvertToImage();
    EXPECT_EQ(PixelAt(image, 0, 0) == wxColour(0xFF, 0x00, 0xFF), c.keyed) << CSkinImages::FileName(c.id);
    EXPECT_NE(PixelAt(image, c.width / 2, c.height / 2), wxColour(0xFF, 0x00, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(
    Layout, SkinImagesTest,
    testing::Values(ImageCase{IDB_FRAME_TOP, 748, 21, false}, ImageCase{IDB_FRAME_BOTTOM, 748, 21, false},
                    ImageCase{IDB_FRAME_LEFT, 363, 396, false}, ImageCase{IDB_FRAME_RIGHT, 385, 396, false},
                    ImageCase{IDB_GRAPH_BACKGROUND, 342, 69, false},
                    ImageCase{IDB_PROGRESS_BACKGROUND, 286, 18, false}, ImageCase{IDB_PROGRESS_BAR, 8, 16, false},
                    ImageCase{IDB_CHECK_ON, 13, 13, false}, ImageCase{IDB_CHECK_OFF, 13, 13, false},
                    ImageCase{IDI_APP, 32, 32, false}, ImageCase{IDI_APP_48, 48, 48, false},
                    ImageCase{IDI_APP_64, 64, 64, false}, ImageCase{IDI_APP_128, 128, 128, false},
                    ImageCase{IDI_APP_256, 256, 256, false},
                    ImageCase{IDB_BROWSE_IN, 60, 22, true}, ImageCase{IDB_BROWSE_OUT, 60, 22, true},
                    ImageCase{IDB_BROWSE_DISABLED, 60, 22, true}, ImageCase{IDB_START_IN, 110, 24, true},
                    ImageCase{IDB_START_OUT, 110, 24, true}, ImageCase{IDB_START_DISABLED, 110, 24, true},
                    ImageCase{IDB_STOP_IN, 110, 24, true}, ImageCase{IDB_STOP_OUT, 110, 24, true},
                    ImageCase{IDB_STOP_DISABLED, 110, 24, true}, ImageCase{IDB_INSTALL_IN, 110, 24, true},
                    ImageCase{IDB_INSTALL_OUT, 110, 24, true}, ImageCase{IDB_INSTALL_DISABLED, 110, 24, true},
                    ImageCase{IDB_CLOSE_IN, 110, 24, true}, ImageCase{IDB_CLOSE_OUT, 110, 24, true},
                    ImageCase{IDB_CLOSE_DISABLED, 110, 24, true}),
    [](const testing::TestParamInfo<ImageCase>& info) { return std::to_string(info.param.id); });

TEST(SkinImagesNames, UnknownNumberNamesNoPicture)
{
    EXPECT_TRUE(CSkinImages::FileName(12345).empty());
    EXPECT_EQ(CSkinImages::FileName(IDB_PROGRESS_BAR), "progress-bar.png");
}

} // namespace
