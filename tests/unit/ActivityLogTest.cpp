#include "engine/IGetPath.h"
#include "platform/UserFolders.h"
#include "engine/ActivityLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// 2027-06-09 04:05:06 in the fixed time zone the test sets.
time_t FixedTime()
{
    return 1812513906;
}

std::string ReadLog()
{
    char path[4096];
    LogPath(path, sizeof path);
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

class ActivityLogTest : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        LogSetTimeSourceForTesting(&FixedTime);
        LogReset();
    }
    void TearDown() override { LogSetTimeSourceForTesting(nullptr); }
};

} // namespace

TEST_F(ActivityLogTest, PathIsUnderTheUserStateFolder)
{
    char path[4096];
    LogPath(path, sizeof path);
    EXPECT_EQ(std::string(path), UserStateFolder() + "zdr-downloader/service.log");
    EXPECT_EQ(std::string(path), std::string(getenv("XDG_STATE_HOME")) + "/zdr-downloader/service.log");
    EXPECT_EQ(GetPathProvider()->GetEngineExePath(), UserDataFolder() + "Ostrel/zdrDownloadV32/ZDRDownloadV32.exe");
    char small[8];
    LogPath(small, sizeof small);
    EXPECT_EQ(std::string(small), std::string(path).substr(0, 7));
}

TEST_F(ActivityLogTest, LineFormatByteForByte)
{
    LogWrite("[MeshpullLib] Initialize");
    LogPrintf("[MeshpullLib] Initialize Failed : %d", 517);
    EXPECT_EQ(ReadLog(), "[Wed Jun  9 04:05:06 2027] [MeshpullLib] Initialize\r\n"
                         "[Wed Jun  9 04:05:06 2027] [MeshpullLib] Initialize Failed : 517\r\n");
}

TEST_F(ActivityLogTest, LongMessagesAreWrittenWhole)
{
    // 511 characters fit the fixed buffer; 512 and far longer take the heap.
    for (size_t length : {511u, 512u, 5000u}) {
        LogReset();
        std::string message(length, 'x');
        message.back() = 'E';
        LogPrintf("%s", message.c_str());
        EXPECT_EQ(ReadLog(), "[Wed Jun  9 04:05:06 2027] " + message + "\r\n") << length;
    }
}

TEST_F(ActivityLogTest, MissingFolderDropsTheLineAndResetRecreatesIt)
{
    char path[4096];
    LogPath(path, sizeof path);
    const std::filesystem::path config = std::filesystem::path(path).parent_path();
    LogWrite("first");
    std::filesystem::remove_all(config);
    LogWrite("dropped");
    EXPECT_FALSE(std::filesystem::exists(path));
    LogReset();
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadLog(), "");
    LogWrite("after");
    EXPECT_EQ(ReadLog(), "[Wed Jun  9 04:05:06 2027] after\r\n");
}

TEST_F(ActivityLogTest, ResetEmptiesTheLog)
{
    LogWrite("old line");
    LogReset();
    EXPECT_EQ(ReadLog(), "");
}
