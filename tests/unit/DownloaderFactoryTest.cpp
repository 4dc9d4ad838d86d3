// The engine downloader is the default; ZDR_NO_ENGINE=1 at configuration
// time leaves the service without one.

#include "engine/ActivityLog.h"
#include "service/CJobDownloader.h"
#include "service/DownloaderFactory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

TEST(DownloaderFactoryTest, NoEngineInTheEnvironmentMakesNoEngineDownloader)
{
    setenv("ZDR_NO_ENGINE", "1", 1);
    LogReset();
    EXPECT_EQ(CreateEngineDownloader(nullptr, nullptr), nullptr);
    unsetenv("ZDR_NO_ENGINE");
    char path[4096];
    LogPath(path, sizeof path);
    std::ifstream in(path, std::ios::binary);
    std::stringstream log;
    log << in.rdbuf();
    EXPECT_NE(log.str().find("[MeshpullLib] Engine path skipped (ZDR_NO_ENGINE=1)\r\n"), std::string::npos);
}
