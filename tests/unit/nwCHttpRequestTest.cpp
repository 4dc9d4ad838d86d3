#include "netlib/http/nwCHttpRequest.h"

#include "netlib/http/nwCHttpRequestHeaderBuilder.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class HttpRequest : public testing::Test {
protected:
    void SetUp() override { SetSystemCodeSetForTesting("UTF-8"); }
    void TearDown() override { SetSystemCodeSetForTesting(nullptr); }

    std::string Build(nwCHttpRequest::Kind kind)
    {
        vqCString text;
        EXPECT_TRUE(request.Build(kind, text));
        return std::string(text.GetString(), text.GetLength());
    }

    nwCHttpRequest request;
};

std::string Referer()
{
    return std::string("Referer: ") + nwCHttpRequestHeaderBuilder::DefaultReferer() + "\r\n";
}

} // namespace

TEST_F(HttpRequest, ReplacesOnlyAWholeNameAndKeepsTheFirstOrder)
{
    request.SetHeader("Accept-Language", "de");
    request.SetHeader("X-B", "1");
    request.SetHeader("X-A", "2");
    request.SetHeader("Accept", "text/plain"); // not a replacement of Accept-Language
    request.SetHeader("x-b", "3");             // replaces X-B in its place
    request.SetHeader("GET", "/p?q=1");
    request.SetParameter("r", "2");
    request.SetParameter("Q", "4");
    EXPECT_EQ(Build(nwCHttpRequest::KIND_GET), "GET /p?q=4&r=2 HTTP/1.1\r\n"
                                               "Accept: text/plain\r\n" +
                                                   Referer() +
                                                   "Accept-Language: de\r\n"
                                                   "User-Agent: TandemClient\r\n"
                                                   "Connection: Keep-Alive\r\n"
                                                   "X-B: 3\r\n"
                                                   "X-A: 2\r\n"
                                                   "\r\n");
}

TEST_F(HttpRequest, BuildsOnceAndRefusesChangesAfterwards)
{
    request.SetHeader("GET", "/a");
    Build(nwCHttpRequest::KIND_GET);
    EXPECT_TRUE(request.IsBuilt());
    vqCString again;
    EXPECT_FALSE(request.Build(nwCHttpRequest::KIND_GET, again));
    EXPECT_TRUE(again.IsEmpty());
    EXPECT_FALSE(request.SetHeader("Range", "bytes=0-"));
    EXPECT_FALSE(request.SetParameter("a", "b"));
    vqCString trailer;
    request.BuildTrailer(trailer);
    EXPECT_TRUE(trailer.IsEmpty());
}

TEST_F(HttpRequest, APostCarriesItsLengthAndEndsWithTheTrailer)
{
    vqCString trailer;
    request.BuildTrailer(trailer);
    EXPECT_TRUE(trailer.IsEmpty()); // nothing before the build
    request.SetHeader("POST", "/upload");
    request.SetHeader("Host", "h");
    request.SetContentLength(3);
    const std::string text = Build(nwCHttpRequest::KIND_POST);
    EXPECT_EQ(text.rfind("POST /upload HTTP/1.1\r\n", 0), 0u);
    const size_t at = text.find("boundary=");
    ASSERT_NE(at, std::string::npos);
    const std::string boundary = text.substr(at + 9, 43);
    request.BuildTrailer(trailer);
    EXPECT_EQ(std::string(trailer.GetString()), "\r\n--" + boundary + "--\r\n");
    // What follows the header block, the 3 body bytes and the trailer are
    // exactly the announced length.
    const std::string partHeader = text.substr(text.find("\r\n\r\n") + 4);
    const uint64_t wire = partHeader.size() + 3 + trailer.GetLength();
    EXPECT_NE(text.find("\r\nContent-Length: " + std::to_string(wire) + "\r\n"), std::string::npos) << text;
}
