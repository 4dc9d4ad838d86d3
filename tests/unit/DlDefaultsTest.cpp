#include "platform/UserFolders.h"
#include "service/DlDefaults.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

TEST(DlDefaults, SavedFolderIsReadBackAsTheNextDefault)
{
    const std::string key = UserConfigFolder() + "Ostrel Inc./DownloadPath";
    std::remove(key.c_str());
    EXPECT_EQ(SavedDownloadFolder(), "");
    EXPECT_EQ(ChosenDownloadFolder(), DefaultDownloadFolder());
    ASSERT_TRUE(SaveDownloadFolder("/data/games/VX2/"));
    EXPECT_EQ(SavedDownloadFolder(), "/data/games/VX2/");
    EXPECT_EQ(ChosenDownloadFolder(), "/data/games/VX2/");
}

TEST(DlDefaults, UnusableSavedFoldersAreNotOffered)
{
    const std::string key = UserConfigFolder() + "Ostrel Inc./DownloadPath";
    struct Case {
        const char* text;
        const char* folder; // read back
    } cases[] = {
        {"VX2=games/VX2/\n", ""},               // relative: depends on where it starts
        {"VX2=\n", ""},
        {"OTHER=/data/x/\n", ""},
        {"OTHER=/data/x/\r\nVX2=/data/y/\r\n", "/data/y/"}, // written by another program's hand
        {"", ""},
    };
    std::filesystem::create_directories(UserConfigFolder() + "Ostrel Inc.");
    for (const Case& c : cases) {
        std::ofstream(key, std::ios::binary | std::ios::trunc) << c.text;
        EXPECT_EQ(SavedDownloadFolder(), c.folder) << c.text;
    }
    // A line break in a folder's name would be read back as another folder:
    // such a folder is not saved, and the note keeps what it held.
    ASSERT_TRUE(SaveDownloadFolder("/data/games/"));
    EXPECT_FALSE(SaveDownloadFolder("/data/games\n/etc/"));
    EXPECT_EQ(SavedDownloadFolder(), "/data/games/");
}
