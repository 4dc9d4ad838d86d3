#include "platform/UserFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct EnvironmentGuard {
    std::string home = getenv("HOME");
    std::string state = getenv("XDG_STATE_HOME") ? getenv("XDG_STATE_HOME") : "";
    ~EnvironmentGuard()
    {
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_STATE_HOME", state.c_str(), 1);
    }
};

} // namespace

TEST(UserStateFolder, FollowsXdgStateHomeElseTheHome)
{
    EnvironmentGuard guard;
    struct Case {
        const char* home;
        const char* state; // null: unset
        const char* folder;
    } cases[] = {
        {"/home/a", "/state/a", "/state/a/"},
        {"/home/a", "/state/a/", "/state/a/"},
        {"/home/a", nullptr, "/home/a/.local/state/"},
        {"/home/a/", nullptr, "/home/a/.local/state/"},
        {"/home/a", "", "/home/a/.local/state/"},
        {"/home/a", "relative/ignored", "/home/a/.local/state/"}, // the XDG rules ignore relative values
    };
    for (const auto& c : cases) {
        setenv("HOME", c.home, 1);
        if (c.state) setenv("XDG_STATE_HOME", c.state, 1);
        else unsetenv("XDG_STATE_HOME");
        EXPECT_EQ(UserStateFolder(), c.folder) << c.home << " " << (c.state ? c.state : "(unset)");
    }
}
