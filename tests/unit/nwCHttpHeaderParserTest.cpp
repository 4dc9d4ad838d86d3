#include "netlib/http/nwCHttpHeaderParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

nwCHttpHeaderParser Parsed(const std::string& block)
{
    nwCHttpHeaderParser parser;
    parser.Parse(block.data(), static_cast<uint32_t>(block.size()));
    return parser;
}

std::vector<std::pair<std::string, std::string>> Entries(const nwCHttpHeaderParser& parser)
{
    std::vector<std::pair<std::string, std::string>> entries;
    for (int32_t i = 0; i < parser.GetCount(); ++i)
        entries.emplace_back(parser.GetName(i).GetString(), parser.GetValue(i).GetString());
    return entries;
}

std::string Value(const nwCHttpHeaderParser& parser, const char* key)
{
    const vqCString* value = parser.Find(key);
    return value ? std::string(value->GetString()) : std::string("(none)");
}

} // namespace

TEST(nwCHttpHeaderParser, SplitsTheBlockIntoTheStatusLineAndNamedFields)
{
    const std::string block = "HTTP/1.1 302 Found\r\n"
                              "Server: nginx/1.22.1\r\n"
                              "Location: http://h/a%20b%2Fc\r\n"
                              "Content-Length:10\r\n"
                              "X-Spaced: \t two  words \t\r\n"
                              "no colon here\r\n"
                              " continued: line\r\n"
                              "\tfolded: too\r\n"
                              ": no name\r\n"
                              "Empty:\r\n"
                              "\r\n";
    nwCHttpHeaderParser parser = Parsed(block);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"HTTP/1.1", "302 Found"},       {"Server:", "nginx/1.22.1"}, {"Location:", "http://h/a%20b%2Fc"},
        {"Content-Length:", "10"},       {"X-Spaced:", "two  words"}, {"Empty:", ""},
    };
    EXPECT_EQ(Entries(parser), expected);
    EXPECT_EQ(std::string(parser.GetRawText().GetString(), parser.GetRawText().GetLength()), block);
}

TEST(nwCHttpHeaderParser, DropsEveryCarriageReturnAndAcceptsBareLineFeeds)
{
    nwCHttpHeaderParser parser = Parsed("HTTP/1.0 200 OK\nA: x\ry\r\nB: z\n\n");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"HTTP/1.0", "200 OK"}, {"A:", "xy"}, {"B:", "z"}};
    EXPECT_EQ(Entries(parser), expected);
}

TEST(nwCHttpHeaderParser, ParsingAgainForgetsThePreviousBlock)
{
    nwCHttpHeaderParser parser = Parsed("HTTP/1.1 200 OK\r\nA: 1\r\n\r\n");
    const std::string second = "HTTP/1.1 404 Not Found\r\n\r\n";
    parser.Parse(second.data(), static_cast<uint32_t>(second.size()));
    EXPECT_EQ(parser.GetCount(), 1);
    EXPECT_EQ(parser.GetStatusCode(), 404);
    EXPECT_EQ(Value(parser, "A"), "(none)");
    parser.Clear();
    EXPECT_EQ(parser.GetCount(), 0);
    EXPECT_TRUE(parser.GetRawText().IsEmpty());
}

TEST(nwCHttpHeaderParser, LooksFieldsUpByTheWholeNameIgnoringCase)
{
    nwCHttpHeaderParser parser = Parsed("HTTP/1.1 200 OK\r\n"
                                        "Content-Length-Hint: 100\r\n"
                                        "Location-Hint: /elsewhere\r\n"
                                        "content-type: text/plain\r\n"
                                        "Content-Length: 5\r\n"
                                        "Location: /first\r\n"
                                        "location: /second\r\n"
                                        "\r\n");
    const std::pair<const char*, const char*> cases[] = {
        {"Content-Length", "5"},    {"content-length:", "5"}, {"CONTENT-LENGTH:", "5"},
        {"Content-Type", "text/plain"}, {"Content", "(none)"}, {"Content-Length-Hint", "100"},
        {"Location:", "/first"},    {"Location: ", "(none)"},  {"Missing", "(none)"}, {":", "(none)"},
        {"HTTP/1.1", "200 OK"},
    };
    for (const auto& [key, expected] : cases) EXPECT_EQ(Value(parser, key), expected) << key;
    EXPECT_EQ(parser.Find(""), nullptr);
    EXPECT_EQ(parser.Find(nullptr), nullptr);
}

TEST(nwCHttpHeaderParser, StatusCodeIsTheLeadingNumberAndZeroWhenUnusable)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", 200},
        {"HTTP/1.1 206\r\n\r\n", 206},
        {"HTTP/1.1 2147483647 Big\r\n\r\n", 2147483647},
        {"HTTP/1.1 2147483648 Overflow\r\n\r\n", 0},
        {"HTTP/1.1 99999999999999999999999 Overflow\r\n\r\n", 0},
        {"HTTP/1.1 OK\r\n\r\n", 0},
        {"HTTP/1.1 -200\r\n\r\n", 0},
        {"HTTP/1.1\r\n\r\n", 0},
        {"\r\n\r\n", 0},
    };
    for (const auto& [block, status] : cases) EXPECT_EQ(Parsed(block).GetStatusCode(), status) << block;
}

TEST(nwCHttpHeaderParser, ContentLengthIsReadOnlyFromAWhollyNumericValue)
{
    const std::pair<const char*, int64_t> cases[] = {
        {"Content-Length: 10", 10},
        {"content-length:10", 10},
        {"Content-Length:   10  ", 10},
        {"Content-Length: 0", 0},
        {"Content-Length: 9223372036854775807", INT64_MAX},
        {"Content-Length: 9223372036854775808", 0},
        {"Content-Length: 123456789012345678901234567890", 0},
        {"Content-Length: -5", 0},
        {"Content-Length: +5", 0},
        {"Content-Length: abc", 0},
        {"Content-Length: 10abc", 0},
        {"Content-Length: 10, 10", 0},
        {"Content-Length: 1%30", 0}, // values are not decoded
        {"Content-Length-Hint: 100", 0},
        {"Content-Length:", 0},
        {"Server: x", 0},
    };
    for (const auto& [line, length] : cases) {
        const std::string block = std::string("HTTP/1.1 200 OK\r\n") + line + "\r\n\r\n";
        EXPECT_EQ(Parsed(block).GetContentLength(), length) << line;
    }
}

TEST(nwCHttpHeaderParser, TwoContentLengthsMustAgree)
{
    using Field = nwCHttpHeaderParser::LengthField;
    const struct {
        const char* fields;
        Field field;
        int64_t length;
    } cases[] = {
        {"Content-Length: 10\r\nContent-Length: 10\r\n", Field::kValid, 10},
        {"Content-Length: 10\r\ncontent-length: 20\r\n", Field::kInvalid, 0},
        {"Content-Length: 10\r\nContent-Length: x\r\n", Field::kInvalid, 0},
        {"Content-Length: -1\r\n", Field::kInvalid, 0},
        {"Content-Length-Hint: 100\r\n", Field::kAbsent, 0},
        {"Content-Length: 0\r\n", Field::kValid, 0},
    };
    for (const auto& c : cases) {
        const nwCHttpHeaderParser parser = Parsed(std::string("HTTP/1.1 200 OK\r\n") + c.fields + "\r\n");
        int64_t length = -7;
        EXPECT_EQ(parser.ReadContentLength(&length), c.field) << c.fields;
        if (c.field == Field::kValid) {
            EXPECT_EQ(length, c.length) << c.fields;
        }
        EXPECT_EQ(parser.GetContentLength(), c.length) << c.fields;
    }
}
