#include "netlib/http/RedirectTarget.h"

#include <gtest/gtest.h>

TEST(RedirectTarget, LocationsResolveAgainstTheUrlThatAnswered)
{
    const std::string base = "http://h.test:8080/dir/file.bin?x=1";
    const std::pair<const char*, const char*> cases[] = {
        {"http://other.test/a", "http://other.test/a"},
        {"HTTPS://other.test/a", "HTTPS://other.test/a"},
        {"//cdn.test/a", "http://cdn.test/a"},
        {"/top/a", "http://h.test:8080/top/a"},
        {"next.bin", "http://h.test:8080/dir/next.bin"},
        {"  /spaced  ", "http://h.test:8080/spaced"},
        {"", ""},
        {"   ", ""},
        {"ftp://m/x", ""},
        {"file:///etc/passwd", ""},
        {"/x\r\nSet-Cookie: y", ""},
    };
    for (const auto& [location, expected] : cases) EXPECT_EQ(RedirectTarget(base, location), expected) << location;
    EXPECT_EQ(RedirectTarget("http://h.test", "a"), "http://h.test/a");
    EXPECT_EQ(RedirectTarget("http://h.test", "/a"), "http://h.test/a");
    EXPECT_EQ(RedirectTarget("not a url", "/x"), "");
}

TEST(RedirectTarget, DotSegmentsOfARelativeLocationAreResolved)
{
    const std::string base = "http://h.test:8080/a/b/file.bin?x=1";
    const std::pair<const char*, const char*> cases[] = {
        {"../files/x.bin", "http://h.test:8080/a/files/x.bin"},
        {"../../../../x.bin", "http://h.test:8080/x.bin"},
        {"./x.bin", "http://h.test:8080/a/b/x.bin"},
        {"c/./d/../x.bin?q=../y", "http://h.test:8080/a/b/c/x.bin?q=../y"},
        {"/top/../x.bin", "http://h.test:8080/x.bin"},
        {"..", "http://h.test:8080/a/"},
        {".", "http://h.test:8080/a/b/"},
        {"x/..", "http://h.test:8080/a/b/"},
    };
    for (const auto& [location, expected] : cases) EXPECT_EQ(RedirectTarget(base, location), expected) << location;
}
