#include "platform/UserFolders.h"
#include "service/DlDefaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

TEST(DlDefaults, FileListUrlFollowsThePortalHost)
{
    setenv("ZDR_PORTAL_HOST", "127.0.0.1:18480", 1);
    EXPECT_EQ(DefaultFileListUrl(), "http://127.0.0.1:18480/download/vx2/zdrdownload/filelist.txt");
    unsetenv("ZDR_PORTAL_HOST");
    EXPECT_EQ(DefaultFileListUrl().rfind("http://", 0), 0u);
    EXPECT_NE(DefaultFileListUrl().find(".example/download/vx2/zdrdownload/filelist.txt"), std::string::npos);
}

TEST(DlDefaults, DownloadFolderAndItsNote)
{
    EXPECT_EQ(DefaultDownloadFolder(), UserHomeFolder() + "tollan/VX2/");
    ASSERT_TRUE(SaveDownloadFolder("/data/games/VX2/"));
    ASSERT_TRUE(SaveDownloadFolder("/data/other/")); // replaced, not appended
    std::ifstream in(UserConfigFolder() + "Ostrel Inc./DownloadPath");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "VX2=/data/other/\n");
}
