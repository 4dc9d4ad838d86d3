// The HTTP downloader against scripted connections: every connection it
// opens is a ScriptedConnection carrying the real HTTP client layer, and
// each row of the table scripts the peers' answers, connection by connection.

#include "ScriptedConnection.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/http/nwCHTTPDownloader.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

class RecordingSink : public nwIHTTPDownloadSink {
public:
    void OnDownloaded(int32_t id, int32_t value, const unsigned char* data, int32_t size) override
    {
        reports.push_back("done " + std::to_string(id) + " " + std::to_string(value) + " " +
                          std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size)));
        if (hook) hook();
    }
    void OnDownloadFailed(int32_t id, int32_t value) override
    {
        reports.push_back("failed " + std::to_string(id) + " " + std::to_string(value));
        if (hook) hook();
    }
    void OnDownloadUnreachable(int32_t id, int32_t value) override
    {
        reports.push_back("unreachable " + std::to_string(id) + " " + std::to_string(value));
        if (hook) hook();
    }
    std::vector<std::string> reports;
    std::function<void()> hook;
};

std::string Ok(const std::string& status, const std::string& body, const std::string& length)
{
    return HttpAnswer(status.c_str(), {"Content-Length: " + length}, body);
}
std::string Redirect(const char* status, const std::string& location)
{
    return HttpAnswer(status, {"Location: " + location, "Content-Length: 0"});
}

// What a peer does on one connection.
const std::string kUnreachable = "<unreachable>";
const std::string kPeerClose = "<close>";
const std::string kIdle = "<idle>";

class HttpDownloader : public testing::Test {
protected:
    void SetUp() override
    {
        SetSystemCodeSetForTesting("UTF-8");
        ScriptedConnection::Install();
        sink.reports.clear();
        ASSERT_TRUE(object.CreateInstance(CLSID_nwCHTTPDownloader));
        downloader = object.As<nwCHTTPDownloader>();
        downloader->SetSink(&sink);
    }
    void TearDown() override
    {
        object.Assign(nullptr);
        ScriptedConnection::Uninstall();
        SetSystemCodeSetForTesting(nullptr);
    }
    // Answers connection after connection as the script says; a step that
    // begins with '+' goes on on the same connection as the step before.
    void Play(const std::vector<std::string>& script)
    {
        size_t index = 0;
        for (size_t i = 0; i < script.size(); ++i) {
            std::string step = script[i];
            if (!step.empty() && step[0] == '+') step.erase(0, 1);
            else if (i > 0) ++index;
            ASSERT_LT(index, ScriptedConnection::Count()) << "connection " << index << " was never opened";
            ScriptedConnection& connection = ScriptedConnection::At(index);
            if (step == kUnreachable) connection.Unreachable();
            else if (step == kPeerClose) connection.PeerClose();
            else if (step == kIdle) connection.IdleTimeout();
            else connection.Answer(step);
        }
    }

    vqSmartPtr object;
    nwCHTTPDownloader* downloader = nullptr;
    RecordingSink sink;
};

} // namespace

TEST_F(HttpDownloader, EachDownloadIsReportedOnceAsItsAnswersDecide)
{
    const std::string tooBig = std::to_string(nwCHTTPDownloader::kMaxBodySize + 1);
    std::vector<std::string> tenRedirects;
    for (int i = 0; i < 10; ++i) tenRedirects.push_back(Redirect("302 Found", "/hop" + std::to_string(i + 1)));
    std::vector<std::string> elevenRedirects = tenRedirects;
    elevenRedirects.push_back(Redirect("302 Found", "/hop11"));
    tenRedirects.push_back(Ok("200 OK", "end", "3"));

    struct Case {
        const char* name;
        std::vector<std::string> script;
        std::string report;
        std::vector<std::string> targets; // of each connection, in order
    };
    const std::vector<Case> cases = {
        {"200", {Ok("200 OK", "hello", "5")}, "done 7 42 hello", {"/a"}},
        {"206 is taken as 200", {Ok("206 Partial Content", "hello", "5")}, "done 7 42 hello", {"/a"}},
        {"a body longer than its length", {Ok("200 OK", "hello, and more", "5")}, "done 7 42 hello", {"/a"}},
        {"the body in pieces", {Ok("200 OK", "he", "5"), "+llo"}, "done 7 42 hello", {"/a"}},
        {"no length", {HttpAnswer("200 OK", {}, "hello")}, "failed 7 42", {"/a"}},
        {"length 0", {Ok("200 OK", "", "0")}, "failed 7 42", {"/a"}},
        {"a length over the limit", {Ok("200 OK", "x", tooBig)}, "failed 7 42", {"/a"}},
        {"a length over 2^31-1", {Ok("200 OK", "x", "4294967301")}, "failed 7 42", {"/a"}},
        {"404", {Ok("404 Not Found", "gone", "4")}, "failed 7 42", {"/a"}},
        {"301 is not followed", {Redirect("301 Moved", "/b")}, "failed 7 42", {"/a"}},
        {"302 then 303 then 200", {Redirect("302 Found", "/b"), Redirect("303 See Other", "http://mirror.test/c"), Ok("200 OK", "end", "3")},
         "done 7 42 end", {"/a", "/b", "/c"}},
        {"302 without Location", {HttpAnswer("302 Found", {"Content-Length: 0"})}, "failed 7 42", {"/a"}},
        {"ten redirects are followed", tenRedirects, "done 7 42 end", {}},
        {"the eleventh is not", elevenRedirects, "failed 7 42", {}},
        {"closed before the end", {Ok("200 OK", "he", "5"), "+" + kPeerClose}, "failed 7 42", {"/a"}},
        {"closed before the header", {kPeerClose}, "failed 7 42", {"/a"}},
        {"idle", {kIdle}, "failed 7 42", {"/a"}},
        {"unreachable twice, then there", {kUnreachable, kUnreachable, Ok("200 OK", "hello", "5")}, "done 7 42 hello",
         {"/a", "/a", "/a"}},
        {"unreachable three times", {kUnreachable, kUnreachable, kUnreachable}, "unreachable 7 42", {"/a", "/a", "/a"}},
        {"a redirect, then unreachable three times",
         {Redirect("302 Found", "/b"), kUnreachable, kUnreachable, kUnreachable}, "unreachable 7 42", {"/a", "/b", "/b", "/b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        downloader->Download(7, "http://files.test/a", 42);
        Play(c.script);
        ASSERT_EQ(sink.reports.size(), 1u);
        EXPECT_EQ(sink.reports[0], c.report);
        EXPECT_EQ(downloader->RunningCount(), 0u);
        for (size_t i = 0; i < c.targets.size() && i < ScriptedConnection::Count(); ++i)
            EXPECT_EQ(ScriptedConnection::At(i).Target(), c.targets[i]) << "connection " << i;
        for (size_t i = 0; i < ScriptedConnection::Count(); ++i)
            EXPECT_TRUE(ScriptedConnection::At(i).closed) << "connection " << i << " left open";
        EXPECT_EQ(ScriptedConnection::At(0).idleLimit, nwCHTTPDownloader::kIdleLimitSeconds);
        EXPECT_EQ(ScriptedConnection::At(0).host, "files.test");
    }
}

TEST_F(HttpDownloader, CancellingAnIdEndsItsRetryAndItsTwinWithoutAReport)
{
    downloader->Download(7, "http://files.test/a", 1);
    downloader->Download(7, "http://files.test/b", 2);
    downloader->Download(8, "http://files.test/c", 3);
    ScriptedConnection::At(0).Unreachable(); // a retry of /a starts
    ASSERT_EQ(ScriptedConnection::Count(), 4u);
    EXPECT_EQ(downloader->RunningCount(), 3u);
    downloader->Cancel(7);
    EXPECT_EQ(downloader->RunningCount(), 1u);
    EXPECT_TRUE(ScriptedConnection::At(1).closed);
    EXPECT_TRUE(ScriptedConnection::At(3).closed);
    EXPECT_FALSE(ScriptedConnection::At(2).closed);
    ScriptedConnection::At(2).Answer(Ok("200 OK", "cc", "2"));
    EXPECT_EQ(sink.reports, std::vector<std::string>{"done 8 3 cc"});
    downloader->Download(9, "http://files.test/d", 4);
    downloader->CancelAll();
    EXPECT_EQ(downloader->RunningCount(), 0u);
    EXPECT_EQ(sink.reports.size(), 1u);
}

TEST_F(HttpDownloader, ADownloadThatCannotStartIsReportedFailedAtOnce)
{
    for (const char* url : {"ftp://files.test/a", "http://nowhere.test/a", ""}) {
        SCOPED_TRACE(url);
        sink.reports.clear();
        downloader->Download(5, url, 6);
        EXPECT_EQ(sink.reports, std::vector<std::string>{"failed 5 6"});
        EXPECT_EQ(downloader->RunningCount(), 0u);
    }
}

TEST_F(HttpDownloader, TheSinkMayReleaseTheDownloaderInsideAReport)
{
    downloader->Download(1, "http://files.test/a", 1);
    downloader->Download(2, "http://files.test/b", 2);
    sink.hook = [this] { object.Assign(nullptr); };
    ScriptedConnection::At(0).Answer(Ok("200 OK", "a", "1"));
    EXPECT_EQ(sink.reports, std::vector<std::string>{"done 1 1 a"});
    // The other download went with the downloader, unreported.
    EXPECT_TRUE(ScriptedConnection::At(1).closed);
    ScriptedConnection::At(1).Answer(Ok("200 OK", "b", "1"));
    EXPECT_EQ(sink.reports.size(), 1u);
}

TEST_F(HttpDownloader, NoSinkNoReport)
{
    downloader->SetSink(nullptr);
    downloader->Download(1, "http://files.test/a", 1);
    ScriptedConnection::At(0).Answer(Ok("200 OK", "a", "1"));
    EXPECT_TRUE(sink.reports.empty());
    EXPECT_EQ(downloader->RunningCount(), 0u);
}
