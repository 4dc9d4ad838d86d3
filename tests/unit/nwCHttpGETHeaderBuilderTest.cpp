#include "netlib/http/nwCHttpGETHeaderBuilder.h"

#include "platform/CodePage.h"
#include "unit/TestNames.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

typedef std::vector<std::pair<const char*, const char*>> Headers;

std::string Build(const Headers& headers)
{
    nwCHttpGETHeaderBuilder builder;
    for (const auto& [name, value] : headers) builder.SetHeader(name, value);
    vqCString text;
    builder.BuildHeader(text);
    return std::string(text.GetString(), text.GetLength());
}

// The request line alone.
std::string RequestLine(const std::string& request)
{
    return request.substr(0, request.find("\r\n"));
}

std::string Referer()
{
    return std::string("Referer: ") + nwCHttpRequestHeaderBuilder::DefaultReferer() + "\r\n";
}

class GETHeaderBuilder : public testing::Test {
protected:
    void SetUp() override { SetSystemCodeSetForTesting("UTF-8"); }
    void TearDown() override { SetSystemCodeSetForTesting(nullptr); }
};

struct TargetCase {
    const char* target;
    const char* expected;
};

void PrintTo(const TargetCase& c, std::ostream* os)
{
    *os << PrintableBytes(c.target);
}

class GETRequestTargets : public GETHeaderBuilder, public testing::WithParamInterface<TargetCase> {};

} // namespace

TEST_F(GETHeaderBuilder, DefaultRefererIsAnHttpUrl)
{
    EXPECT_EQ(std::string(nwCHttpRequestHeaderBuilder::DefaultReferer()).rfind("http://", 0), 0u);
}

TEST_F(GETHeaderBuilder, WritesTheKnownHeadersInTheirOrderWithTheCallersValues)
{
    EXPECT_EQ(Build({{"GET", "/files/a b.zip"}, {"Host", "download.tollan.example"}, {"Range", "bytes=100-"}}),
              "GET /files/a%20b.zip HTTP/1.1\r\n"
              "Accept: */*\r\n" +
                  Referer() +
                  "Accept-Language: ko\r\n"
                  "User-Agent: TandemClient\r\n"
                  "Range: bytes=100-\r\n"
                  "Host: download.tollan.example\r\n"
                  "Connection: Keep-Alive\r\n"
                  "\r\n");
}

TEST_F(GETHeaderBuilder, WithoutHeadersSendsTheRootAndTheDefaults)
{
    EXPECT_EQ(Build({}), "GET / HTTP/1.1\r\n"
                         "Accept: */*\r\n" +
                             Referer() +
                             "Accept-Language: ko\r\n"
                             "User-Agent: TandemClient\r\n"
                             "Connection: Keep-Alive\r\n"
                             "\r\n");
}

TEST_F(GETHeaderBuilder, KnownHeadersTakeTheBuildersSpellingAndCallersValuesEvenEmpty)
{
    EXPECT_EQ(Build({{"GET", "/f"},
                     {"connection", "close"},
                     {"range", "bytes=5-"},
                     {"ACCEPT", "text/plain"},
                     {"referer", ""},
                     {"user-agent", "Probe"},
                     {"HOST", "h.example"},
                     {"accept-language", "en"}}),
              "GET /f HTTP/1.1\r\n"
              "Accept: text/plain\r\n"
              "Referer: \r\n"
              "Accept-Language: en\r\n"
              "User-Agent: Probe\r\n"
              "Range: bytes=5-\r\n"
              "Host: h.example\r\n"
              "Connection: close\r\n"
              "\r\n");
}

TEST_F(GETHeaderBuilder, OtherHeadersFollowInTheirOrderEncodedExceptCookie)
{
    const std::string request = Build({{"X-Note", "a b/c"},
                                       {"GET", "/f"},
                                       {"Cookie", "id=a b; k=%20/"},
                                       {"X-Empty", ""},
                                       {"x-note", "last b/c"}});
    const std::string tail = "Connection: Keep-Alive\r\n"
                             "X-Note: last%20b%2Fc\r\n"
                             "Cookie: id=a b; k=%20/\r\n"
                             "X-Empty: \r\n"
                             "\r\n";
    ASSERT_GE(request.size(), tail.size());
    EXPECT_EQ(request.substr(request.size() - tail.size()), tail);
}

TEST_F(GETHeaderBuilder, LineBreaksInValuesAndNamesCannotAddHeaders)
{
    const std::string request = Build({{"GET", "/f"},
                                       {"Host", "h.example\r\nX-Injected: 1"},
                                       {"Cookie", "a=1\nX-Injected: 2"},
                                       {"X-Bad\r\nX-Injected", "3"},
                                       {"X Bad", "4"},
                                       {"X-Tab", "a\tb"}});
    EXPECT_EQ(request.find("\r\nX-Injected"), std::string::npos);
    EXPECT_NE(request.find("Host: h.example%0D%0AX-Injected: 1\r\n"), std::string::npos);
    EXPECT_NE(request.find("Cookie: a=1%0AX-Injected: 2\r\n"), std::string::npos);
    EXPECT_EQ(request.find("X Bad"), std::string::npos);
    EXPECT_NE(request.find("X-Tab: a%09b\r\n"), std::string::npos);
}

TEST_F(GETHeaderBuilder, SettingTheTargetTwiceKeepsOneEntryWithoutQuery)
{
    nwCHttpGETHeaderBuilder builder;
    builder.SetHeader("GET", "/old?a=1");
    builder.SetHeader("GET", "/new?b=2");
    vqCString text;
    builder.BuildHeader(text);
    const std::string request = text.GetString();
    EXPECT_EQ(RequestLine(request), "GET /new?a=1&b=2 HTTP/1.1");
    EXPECT_EQ(request.find("GET:"), std::string::npos);
}

TEST_F(GETHeaderBuilder, ParametersSetDirectlyJoinTheQueryAndReplaceByName)
{
    nwCHttpGETHeaderBuilder builder;
    builder.SetHeader("GET", "/q?id=1&Mode=a");
    builder.SetParameter("MODE", "b c");
    builder.SetParameter("key", "v/w");
    vqCString text;
    builder.BuildHeader(text);
    EXPECT_EQ(RequestLine(text.GetString()), "GET /q?id=1&Mode=b%20c&key=v%2Fw HTTP/1.1");
}

TEST_F(GETHeaderBuilder, BuildingTwiceGivesTheSameText)
{
    nwCHttpGETHeaderBuilder builder;
    builder.SetHeader("GET", "/f?a=1");
    builder.SetHeader("X-Note", "n");
    vqCString first, second;
    builder.BuildHeader(first);
    builder.BuildHeader(second);
    EXPECT_EQ(first, second);
    EXPECT_NE(std::string(second.GetString()).find("X-Note: n\r\n"), std::string::npos);
}

TEST_F(GETHeaderBuilder, TrailerIsEmpty)
{
    nwCHttpGETHeaderBuilder builder;
    vqCString trailer("x");
    builder.BuildTrailer(trailer);
    EXPECT_EQ(trailer, "x");
}

TEST_F(GETHeaderBuilder, TargetInTheSystemCodeSetGoesOutAsEncodedUtf8)
{
    SetSystemCodeSetForTesting("EUC-KR");
    EXPECT_EQ(RequestLine(Build({{"GET", "/\xC7\xD1/\xB1\xDB.zip"}})), "GET /%ED%95%9C/%EA%B8%80.zip HTTP/1.1");
}

TEST_P(GETRequestTargets, EncodesTheTarget)
{
    EXPECT_EQ(RequestLine(Build({{"GET", GetParam().target}})),
              std::string("GET ") + GetParam().expected + " HTTP/1.1");
}

INSTANTIATE_TEST_SUITE_P(GETHeaderBuilder, GETRequestTargets,
                         testing::Values(TargetCase{"", "/"},
                                         TargetCase{"/", "/"},
                                         // the path is sent as given: empty segments and escapes stay
                                         TargetCase{"//", "//"},
                                         TargetCase{"/a//b", "/a//b"},
                                         TargetCase{"/a%2Fb%20c", "/a%2Fb%20c"},
                                         TargetCase{"/100%", "/100%25"},
                                         TargetCase{"/%zz%4", "/%25zz%254"},
                                         TargetCase{"a/b", "/a/b"},
                                         // a trailing slash names a directory and stays
                                         TargetCase{"/dir/", "/dir/"},
                                         TargetCase{"/x y/z~:@", "/x%20y/z%7E%3A@"},
                                         TargetCase{"/a%20b.zip", "/a%20b.zip"},
                                         TargetCase{"/\xED\x95\x9C.zip", "/%ED%95%9C.zip"},
                                         TargetCase{"/f\r\nX: y", "/f%0D%0AX%3A%20y"},
                                         TargetCase{"/q?name=a b&k=v", "/q?name=a%20b&k=v"},
                                         TargetCase{"/q?v=%20", "/q?v=%2520"},
                                         TargetCase{"/q?a=1&&b=2&", "/q?a=1&b=2"},
                                         TargetCase{"/q?a=x=y", "/q?a=x%3Dy"},
                                         TargetCase{"/q?a=", "/q?a="},
                                         TargetCase{"/q?a=1&A=2", "/q?a=2"},
                                         // a piece without "=" (a version stamp, a flag) is kept
                                         TargetCase{"/f.zip?20240607", "/f.zip?20240607"},
                                         TargetCase{"/q?flag&a=1", "/q?flag&a=1"},
                                         TargetCase{"/q?", "/q"},
                                         TargetCase{"?a=1", "/?a=1"}));
