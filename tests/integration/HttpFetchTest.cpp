#include "ScriptedHttpServer.h"

#include "platform/HttpFetch.h"

#include <gtest/gtest.h>

namespace {

std::string Response(const std::string& status, const std::string& body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

TEST(HttpFetch, WholeBodyOfA200AfterARedirect)
{
    ScriptedHttpServer server({{"HTTP/1.1 302 Found\r\nLocation: /banner.gif\r\nContent-Length: 0\r\n\r\n"},
                               {Response("200 OK", "GIF89a-picture")}});
    std::string body;
    ASSERT_TRUE(HttpFetch(server.Url("/VX2_TW.gif"), 1024, 10000, nullptr, &body));
    EXPECT_EQ(body, "GIF89a-picture");
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[1].rfind("GET /banner.gif HTTP/1.1\r\n", 0), 0u);
}

TEST(HttpFetch, ErrorsOversizeAndCancelGiveNothing)
{
    std::string body = "untouched";
    {
        ScriptedHttpServer server({{Response("404 Not Found", "missing")}});
        EXPECT_FALSE(HttpFetch(server.Url("/x"), 1024, 10000, nullptr, &body));
    }
    {
        ScriptedHttpServer server({{Response("200 OK", std::string(2048, 'b'))}});
        EXPECT_FALSE(HttpFetch(server.Url("/x"), 1024, 10000, nullptr, &body));
    }
    {
        // A body that never completes: only the cancel ends the wait.
        ScriptedHttpServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nlate", false}});
        const std::atomic<bool> cancel{true};
        EXPECT_FALSE(HttpFetch(server.Url("/x"), 1024, 120000, &cancel, &body));
    }
    EXPECT_FALSE(HttpFetch("http://127.0.0.1:1/x", 1024, 10000, nullptr, &body));
    EXPECT_EQ(body, "untouched");
}

} // namespace
