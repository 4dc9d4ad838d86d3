// Every test process gets a private, empty home: the engine folder, the log
// and the key file land there and never in the user's own folders.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/zdr-test-home-XXXXXX";
    const char* home = mkdtemp(pattern);
    if (!home) return 2;
    const std::string base = home;
    setenv("HOME", home, 1);
    setenv("XDG_DATA_HOME", (base + "/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base + "/.config").c_str(), 1);
    setenv("XDG_STATE_HOME", (base + "/.local/state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", home, 1);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return result;
}
