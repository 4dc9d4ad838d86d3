#include "netlib/http/nwCHttpPOSTHeaderBuilder.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

std::string Text(const vqCString& text)
{
    return std::string(text.GetString(), text.GetLength());
}

class POSTHeaderBuilder : public testing::Test {
protected:
    void SetUp() override { SetSystemCodeSetForTesting("UTF-8"); }
    void TearDown() override { SetSystemCodeSetForTesting(nullptr); }
};

} // namespace

TEST_F(POSTHeaderBuilder, BoundaryIsTwentySevenHyphensAndTwoFourDigitValuesInHex)
{
    std::set<std::string> seen;
    for (int i = 0; i < 8; ++i) {
        nwCHttpPOSTHeaderBuilder builder;
        const std::string boundary = Text(builder.GetBoundary());
        ASSERT_EQ(boundary.size(), 43u);
        EXPECT_EQ(boundary.substr(0, 27), std::string(27, '-'));
        for (size_t at : {27u, 35u}) {
            const std::string value = boundary.substr(at, 8);
            EXPECT_EQ(value.find_first_not_of("0123456789ABCDEF"), std::string::npos) << value;
            EXPECT_LE(strtol(value.c_str(), nullptr, 16), 32767) << value;
        }
        seen.insert(boundary);
    }
    EXPECT_GT(seen.size(), 1u);
}

TEST_F(POSTHeaderBuilder, WritesTheRequestThePartHeaderAndTheTrailer)
{
    nwCHttpPOSTHeaderBuilder builder;
    builder.SetHeader("POST", "/upload");
    builder.SetHeader("Host", "agent.ostrel.example");
    builder.SetContentLength(100);
    const std::string boundary = Text(builder.GetBoundary());
    const std::string partHeader = "--" + boundary +
                                   "\r\n"
                                   "Content-Disposition: form-data; name=attach_file; filename=unknown\r\n"
                                   "Content-Type: application/octet-stream\r\n";
    const std::string trailer = "\r\n--" + boundary + "--\r\n";
    const size_t wireLength = partHeader.size() + 2 + 100 + trailer.size();

    vqCString header;
    builder.BuildHeader(header);
    EXPECT_EQ(Text(header), "POST /upload HTTP/1.1\r\n"
                            "Accept: */*\r\n"
                            "Referer: " +
                                std::string(nwCHttpRequestHeaderBuilder::DefaultReferer()) +
                                "\r\n"
                                "Accept-Language: ko\r\n"
                                "Content-Type: multipart/form-data; boundary=" +
                                boundary +
                                "\r\n"
                                "User-Agent: TandemClient\r\n"
                                "Host: agent.ostrel.example\r\n"
                                "Content-Length: " +
                                std::to_string(wireLength) +
                                "\r\n"
                                "Connection: Keep-Alive\r\n"
                                "\r\n" +
                                partHeader + "\r\n");

    vqCString tail;
    builder.BuildTrailer(tail);
    EXPECT_EQ(Text(tail), trailer);
}

TEST_F(POSTHeaderBuilder, ContentLengthCountsEveryByteSentAfterTheHeaderBlock)
{
    for (int64_t bodyLength : {int64_t{1}, int64_t{4096}, int64_t{5000000000}}) {
        nwCHttpPOSTHeaderBuilder builder;
        builder.SetHeader("POST", "/upload?kind=log");
        builder.SetContentLength(bodyLength);
        vqCString header, trailer;
        builder.BuildHeader(header);
        builder.BuildTrailer(trailer);
        const std::string text = Text(header);
        const size_t lengthAt = text.find("Content-Length: ");
        ASSERT_NE(lengthAt, std::string::npos);
        const long long announced = strtoll(text.c_str() + lengthAt + 16, nullptr, 10);
        const size_t bodyStart = text.find("\r\n\r\n") + 4;
        const long long onTheWire = static_cast<long long>(text.size() - bodyStart) + bodyLength + trailer.GetLength();
        EXPECT_EQ(announced, onTheWire) << bodyLength;
    }
}

TEST_F(POSTHeaderBuilder, ZeroLengthHasNoContentLengthAndADelimiterOnlyPartHeader)
{
    nwCHttpPOSTHeaderBuilder builder;
    builder.SetHeader("POST", "/upload");
    vqCString header;
    builder.BuildHeader(header);
    const std::string text = Text(header);
    const std::string boundary = Text(builder.GetBoundary());
    EXPECT_EQ(text.find("Content-Length"), std::string::npos);
    const std::string tail = "Connection: Keep-Alive\r\n\r\n--" + boundary + "\r\n\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(POSTHeaderBuilder, CallersContentTypeReplacesTheMultipartOne)
{
    nwCHttpPOSTHeaderBuilder builder;
    builder.SetHeader("POST", "/upload");
    builder.SetHeader("content-type", "text/plain");
    vqCString header;
    builder.BuildHeader(header);
    const std::string text = Text(header);
    EXPECT_NE(text.find("\r\nAccept-Language: ko\r\nContent-Type: text/plain\r\nUser-Agent: "), std::string::npos);
    EXPECT_EQ(text.find("multipart"), std::string::npos);
}
