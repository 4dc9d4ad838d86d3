#include "netlib/http/RedirectTarget.h"

#include <gtest/gtest.h>

TEST(RedirectTarget, Table)
{
    struct Case {
        const char* current;
        const char* location;
        const char* target;
    } cases[] = {
        {"http://h:8080/a/b.txt", "http://m/c.txt", "http://m/c.txt"},
        {"http://h:8080/a/b.txt", "HTTPS://m/c.txt", "HTTPS://m/c.txt"},
        {"http://h:8080/a/b.txt", "/c/d.txt", "http://h:8080/c/d.txt"},
        {"http://h", "/x", "http://h/x"},
        {"http://h/a", "//evil/x", ""},
        {"http://h/a", "ftp://m/x", ""},
        {"http://h/a", "c.txt", ""},
        {"http://h/a", "", ""},
        {"http://h/a", "/x\r\nSet-Cookie: y", ""},
        {"not a url", "/x", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RedirectTarget(c.current, c.location), c.target) << c.location;
}
