// The shared rules of the plain downloader: redirect targets, Content-Range
// values, local file names and URL alternatives.

#include "service/HttpTransferRules.h"

#include <gtest/gtest.h>

TEST(HttpTransferRules, ContentRangeValues)
{
    struct Case {
        const char* value;
        bool ok;
        int64_t first, last, total;
    };
    const Case cases[] = {
        {"bytes 4-9/10", true, 4, 9, 10},
        {"bytes 0-0/*", true, 0, 0, -1},
        {"bytes */10", true, -1, -1, 10},
        {"BYTES 1-2/3", true, 1, 2, 3},
        {"bytes 4-9/9", false, 0, 0, 0},
        {"bytes 9-4/10", false, 0, 0, 0},
        {"bytes */*", false, 0, 0, 0},
        {"bytes 4-/10", false, 0, 0, 0},
        {"items 1-2/3", false, 0, 0, 0},
        {"bytes -1-2/3", false, 0, 0, 0},
        {"bytes 1-2/99999999999999999999", false, 0, 0, 0},
        {"", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        int64_t first = 0, last = 0, total = 0;
        EXPECT_EQ(ParseContentRange(c.value, &first, &last, &total), c.ok) << c.value;
        if (!c.ok) continue;
        EXPECT_EQ(first, c.first) << c.value;
        EXPECT_EQ(last, c.last) << c.value;
        EXPECT_EQ(total, c.total) << c.value;
    }
    EXPECT_FALSE(ParseContentRange(nullptr, nullptr, nullptr, nullptr));
}

TEST(HttpTransferRules, OnlyNamesThatStayInTheirFolderAreSafe)
{
    for (const char* name : {"a.bin", "ZDRSetup.exe", "..a", "a..", "with space", "x\\y"})
        EXPECT_TRUE(IsSafeFileName(name)) << name;
    for (const char* name : {"", ".", "..", "a/b", "/abs", "../up", "a\nb", "a\x7F"})
        EXPECT_FALSE(IsSafeFileName(name)) << name;
}

TEST(HttpTransferRules, AnEntrysFileIsNamedAfterItsPathNeverItsHost)
{
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/a.bin", "a.bin"},
        {"http://h/dir/a.bin?x=1", "a.bin?x=1"},
        {"http://h/dir/", ""},
        {"http://h:8080", ""},
        {"https://user:pw@h", ""},
        {"http://h/a.bin|http://m", ""},
        {"no slash", ""},
    };
    for (const auto& [entry, name] : cases) EXPECT_EQ(EntryFileName(entry), name) << entry;
}

TEST(HttpTransferRules, AlternativesAreTheNonEmptyPartsOfAnEntry)
{
    EXPECT_EQ(SplitAlternatives("http://a/x| http://b/x |"), (std::vector<std::string>{"http://a/x", "http://b/x"}));
    EXPECT_EQ(SplitAlternatives("http://a/x"), (std::vector<std::string>{"http://a/x"}));
    EXPECT_TRUE(SplitAlternatives("| |").empty());
    EXPECT_TRUE(SplitAlternatives("").empty());
}
