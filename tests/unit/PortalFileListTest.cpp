#include "service/PortalFileList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    std::string body;
    PortalListResult result;
    std::vector<std::string> entries;
};

} // namespace

TEST(PortalFileList, Table)
{
    const std::string line1023(1023, 'u');
    const std::string line1024(1024, 'u');
    const Case cases[] = {
        {"crlf with empty line", "a\r\n\r\nb\r\n", PortalListResult::Ok, {"a", "b"}},
        {"lf only", "http://h/1\nhttp://h/2\n", PortalListResult::Ok, {"http://h/1", "http://h/2"}},
        {"final two bytes ignored", "first\nab", PortalListResult::Ok, {"first"}},
        {"final three bytes taken", "first\nabc", PortalListResult::Ok, {"first", "abc"}},
        {"lone cr ends a line", "a\rb\n", PortalListResult::Ok, {"a", "b"}},
        {"cr line ends only", "http://h/a.bin\rhttp://h/b.bin\r", PortalListResult::Ok, {"http://h/a.bin", "http://h/b.bin"}},
        {"cr, lf and cr lf mixed", "a1\rb1\nc1\r\n\r\rdd1", PortalListResult::Ok, {"a1", "b1", "c1", "dd1"}},
        {"lf cr is two line ends", "a1\n\rb1\n", PortalListResult::Ok, {"a1", "b1"}},
        {"trailing cr trimmed", "abc\r", PortalListResult::Ok, {"abc"}},
        {"entries trimmed", "  http://h/a|http://m/a \t\r\n", PortalListResult::Ok, {"http://h/a|http://m/a"}},
        {"white space line skipped", "a\n   \nb\n", PortalListResult::Ok, {"a", "b"}},
        {"line of empty alternatives skipped", "a\n | \t|\nb\n", PortalListResult::Ok, {"a", "b"}},
        {"only white space lines", " \n\t\n   \n", PortalListResult::Empty, {}},
        {"1023 bytes accepted", line1023 + "\n", PortalListResult::Ok, {line1023}},
        {"1023 bytes accepted at the end", line1023, PortalListResult::Ok, {line1023}},
        {"1024 bytes stop", "a\n" + line1024 + "\nb\n", PortalListResult::LineTooLong, {"a"}},
        {"1024 bytes stop at the end", line1024, PortalListResult::LineTooLong, {}},
        {"empty body", "", PortalListResult::Empty, {}},
        {"only breaks", "\r\n\n\r\n", PortalListResult::Empty, {}},
        {"short tail only", "ab", PortalListResult::Empty, {}},
        {"empty alternatives dropped", "http://h/a.bin|\n | http://h/b.bin ||http://m/b.bin\n", PortalListResult::Ok,
         {"http://h/a.bin", "http://h/b.bin|http://m/b.bin"}},
        // Found by fuzzing: an alternative of only a CR, VT or FF survived as a URL.
        {"alternatives trimmed of all white space", "a|\v|\vb\f|\f\n \t| c\n", PortalListResult::Ok, {"a|b", "c"}},
        {"paths kept as given", "http://h//a%2Fb/../c.bin\n", PortalListResult::Ok, {"http://h//a%2Fb/../c.bin"}},
        {"a NUL stops the list", "http://h/a\n" + std::string("http://h/b\0.exe\n", 17) + "c\n", PortalListResult::NulByte,
         {"http://h/a"}},
        {"utf-8 bytes kept", "http://h/\xE4\xB8\x8B\xE8\xBC\x89.zip\n", PortalListResult::Ok, {"http://h/\xE4\xB8\x8B\xE8\xBC\x89.zip"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> entries;
        EXPECT_EQ(ParsePortalFileList(c.body.data(), static_cast<long long>(c.body.size()), &entries), c.result) << c.name;
        EXPECT_EQ(entries, c.entries) << c.name;
    }
}

TEST(PortalFileList, BodyIsReadOnlyUpToItsLength)
{
    const char body[] = "http://h/a\nhttp://h/b\nGARBAGE";
    std::vector<std::string> entries;
    ASSERT_EQ(ParsePortalFileList(body, 21, &entries), PortalListResult::Ok);
    EXPECT_EQ(entries, (std::vector<std::string>{"http://h/a", "http://h/b"}));
    EXPECT_EQ(ParsePortalFileList(nullptr, 10, &entries), PortalListResult::Empty);
}

TEST(PortalFileList, ErrorTexts)
{
    EXPECT_STREQ(PortalListErrorText(PortalListResult::LineTooLong), "輸入了錯誤的URL");
    EXPECT_STREQ(PortalListErrorText(PortalListResult::Empty), "下載檔案目錄失敗");
}

TEST(PortalFileList, AFaultNamesItsLine)
{
    const std::pair<std::string, long long> cases[] = {
        {std::string("a\r\n\r\nb\0c\nd\n", 10), 3},
        {"ok\n" + std::string(1024, 'u') + "\n", 2},
        {"a\rb\r\nc\r" + std::string(1024, 'u'), 4},
        {std::string("ok\nlast\0", 8), 2},
    };
    for (const auto& [body, line] : cases) {
        std::vector<std::string> entries;
        long long fault = 0;
        EXPECT_NE(ParsePortalFileList(body.data(), static_cast<long long>(body.size()), &entries, &fault),
                  PortalListResult::Ok);
        EXPECT_EQ(fault, line);
    }
}

TEST(PortalFileList, EachEntryKnowsItsLine)
{
    const std::string body = "\n  \na\r\n\r\n | \nb\rc\n\t\nlast";
    std::vector<std::string> entries;
    std::vector<long long> lines;
    ASSERT_EQ(ParsePortalFileList(body.data(), static_cast<long long>(body.size()), &entries, nullptr, &lines),
              PortalListResult::Ok);
    EXPECT_EQ(entries, (std::vector<std::string>{"a", "b", "c", "last"}));
    EXPECT_EQ(lines, (std::vector<long long>{3, 6, 7, 9}));
}
