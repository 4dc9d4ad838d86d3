#include "engine/CGetPath_V32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct EnvironmentGuard {
    std::string home = getenv("HOME");
    std::string data = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
    ~EnvironmentGuard()
    {
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_DATA_HOME", data.c_str(), 1);
    }
};

} // namespace

TEST(CGetPath_V32, PathsFollowTheDataFolder)
{
    EnvironmentGuard guard;
    struct Case {
        const char* home;
        const char* data; // null: unset
        const char* base;
    } cases[] = {
        {"/home/a", "/data/a", "/data/a/Ostrel/"},
        {"/home/a", "/data/a/", "/data/a/Ostrel/"}, // no second '/'
        {"/home/a", nullptr, "/home/a/.local/share/Ostrel/"},
        {"/home/a/", nullptr, "/home/a/.local/share/Ostrel/"},
        {"/home/a", "relative/ignored", "/home/a/.local/share/Ostrel/"},
    };
    CGetPath_V32 paths;
    for (const auto& c : cases) {
        setenv("HOME", c.home, 1);
        if (c.data) setenv("XDG_DATA_HOME", c.data, 1);
        else unsetenv("XDG_DATA_HOME");
        const std::string base = c.base;
        EXPECT_EQ(paths.GetBaseFolder(), base) << c.home << " " << (c.data ? c.data : "(unset)");
        EXPECT_EQ(paths.GetEngineFolder(), base + "zdrDownloadV32/");
        EXPECT_EQ(paths.GetEngineExePath(), base + "zdrDownloadV32/ZDRDownloadV32.exe");
    }
}
