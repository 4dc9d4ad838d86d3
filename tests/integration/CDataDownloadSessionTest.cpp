// The in-memory fetch against a real nginx and against scripted peers.

#include "DemoPortal.h"
#include "LoopbackSockets.h"
#include "ScriptedHttpServer.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/runtime/CVyx.h"
#include "platform/MessageLoop.h"
#include "service/CDataDownloadSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

class Recorder : public IDataDownloadSessionEventListener {
public:
    std::vector<int> failures;
    std::vector<long long> ready;
    int ticks = 0;
    void OnDataReady(const void*, long long size) override { ready.push_back(size); }
    void OnDataFailed(int reason) override { failures.push_back(reason); }
    void OnDataTick() override { ++ticks; }
    bool Ended() const { return !failures.empty() || !ready.empty(); }
};

class FetchTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
        network = std::make_unique<CVyx>(lock.As<cpCMutex>());
        session = std::make_unique<CDataDownloadSession>(&recorder);
    }
    void TearDown() override
    {
        session.reset();
        network.reset();
    }
    bool Run(const std::string& url)
    {
        session->Fetch(url.c_str());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!recorder.Ended()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MSG msg;
            if (GetMessageTimeout(&msg, 20)) DispatchMessage(&msg);
        }
        return true;
    }
    std::string Body()
    {
        long long size = 0;
        if (session->GetSize(&size) != DL_OK) return std::string();
        std::string body(static_cast<size_t>(size), '\0');
        DlDataBuffer buffer{body.data(), size};
        return session->GetData(&buffer) == DL_OK ? body : std::string("(refused)");
    }

    vqSmartPtr lock;
    std::unique_ptr<CVyx> network;
    Recorder recorder;
    std::unique_ptr<CDataDownloadSession> session;
};

std::string Answer200(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST_F(FetchTest, FileListFromNginxThroughARedirect)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    ASSERT_TRUE(Run(portal.Url("/redirect/download/vx2/zdrdownload/filelist.txt")));
    const std::string expected = portal.Served("/download/vx2/zdrdownload/filelist.txt");
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(recorder.ready, std::vector<long long>{static_cast<long long>(expected.size())})
        << (recorder.failures.empty() ? -1 : recorder.failures[0]);
    EXPECT_EQ(Body(), expected);
    // A buffer one byte short is refused and nothing is copied.
    std::string shorter(expected.size() - 1, 'x');
    DlDataBuffer buffer{shorter.data(), static_cast<long long>(shorter.size())};
    EXPECT_EQ(session->GetData(&buffer), DL_ERR_GENERAL);
    EXPECT_EQ(shorter, std::string(expected.size() - 1, 'x'));
    DlDataBuffer none{nullptr, static_cast<long long>(expected.size())};
    EXPECT_EQ(session->GetData(&none), DL_ERR_GENERAL);
}

TEST_F(FetchTest, NotFoundIsAnUnusableAnswer)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    ASSERT_TRUE(Run(portal.Url("/download/vx2/zdrdownload/missing.txt")));
    EXPECT_EQ(recorder.failures, std::vector<int>{DATA_FAILED_BAD_ANSWER});
    long long size = 0;
    EXPECT_EQ(session->GetSize(&size), DL_ERR_GENERAL);
}

TEST_F(FetchTest, ScriptedAnswers)
{
    struct Case {
        const char* name;
        std::vector<ScriptedHttpServer::Answer> answers;
        std::vector<int> failures;
        std::string body;
    } cases[] = {
        {"no length", {{"HTTP/1.1 200 OK\r\n\r\nbody"}}, {DATA_FAILED_BAD_ANSWER}, ""},
        {"zero length", {{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}}, {DATA_FAILED_BAD_ANSWER}, ""},
        {"302 without location", {{"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n"}}, {DATA_FAILED_BAD_ANSWER}, ""},
        {"302 relative then 200",
         {{"HTTP/1.1 302 Found\r\nLocation: /other\r\n\r\n"}, {Answer200("0123456789")}},
         {},
         "0123456789"},
        {"303 then 200", {{"HTTP/1.1 303 See Other\r\nLocation: /x\r\n\r\n"}, {Answer200("abc")}}, {}, "abc"},
        {"301 then 200", {{"HTTP/1.1 301 Moved\r\nLocation: /x\r\n\r\n"}, {Answer200("moved")}}, {}, "moved"},
        {"307 then 308 then 200",
         {{"HTTP/1.1 307 Temporary\r\nLocation: /x\r\n\r\n"}, {"HTTP/1.1 308 Permanent\r\nLocation: /y\r\n\r\n"},
          {Answer200("twice")}},
         {},
         "twice"},
        // A 45-byte list that announces 1.5 GB gets no 1.5 GB of memory: it
        // fails as the cut body it is.
        {"a huge announcement, a short body",
         {{"HTTP/1.1 200 OK\r\nContent-Length: 1610612736\r\n\r\n" + std::string(45, 'x')}},
         {DATA_FAILED_BAD_ANSWER},
         ""},
        {"a body past the bound", {{"HTTP/1.1 200 OK\r\nContent-Length: 16777217\r\n\r\nx"}}, {DATA_FAILED_BAD_ANSWER}, ""},
        {"two lengths that disagree", {{"HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"}},
         {DATA_FAILED_BAD_ANSWER}, ""},
        {"closed mid-body", {{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part"}}, {DATA_FAILED_CLOSED}, ""},
        {"closed before any answer", {{""}}, {DATA_FAILED_CLOSED}, ""},
        {"excess bytes are dropped", {{"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabcdEXTRA"}}, {}, "abcd"},
    };
    for (const auto& c : cases) {
        recorder = Recorder();
        ScriptedHttpServer server(c.answers);
        ASSERT_TRUE(Run(server.Url("/list.txt"))) << c.name;
        EXPECT_EQ(recorder.failures, c.failures) << c.name;
        if (c.failures.empty()) {
            EXPECT_EQ(recorder.ready, std::vector<long long>{static_cast<long long>(c.body.size())}) << c.name;
            EXPECT_EQ(Body(), c.body) << c.name;
        }
    }
}

TEST_F(FetchTest, RedirectLoopEndsAfterTheBound)
{
    std::vector<ScriptedHttpServer::Answer> loop(CDataDownloadSession::kMaxRedirects + 1,
                                                 {"HTTP/1.1 302 Found\r\nLocation: /again\r\n\r\n"});
    loop.push_back({Answer200("never reached")});
    ScriptedHttpServer server(loop);
    ASSERT_TRUE(Run(server.Url("/start")));
    EXPECT_EQ(recorder.failures, std::vector<int>{DATA_FAILED_BAD_ANSWER});
    EXPECT_EQ(server.Requests().size(), static_cast<size_t>(CDataDownloadSession::kMaxRedirects) + 1);
}

TEST_F(FetchTest, NothingListeningFailsQuickly)
{
    ASSERT_TRUE(Run("http://127.0.0.1:" + std::to_string(RefusedPort()) + "/list.txt"));
    ASSERT_EQ(recorder.failures.size(), 1u);
    EXPECT_TRUE(recorder.failures[0] == DATA_FAILED_CONNECT_TIMEOUT || recorder.failures[0] == DATA_FAILED_CLOSED)
        << recorder.failures[0];
}

TEST_F(FetchTest, UnusableUrlFailsAtOnce)
{
    session->Fetch("ftp://127.0.0.1/list.txt");
    EXPECT_EQ(recorder.failures, std::vector<int>{DATA_FAILED_UNREACHABLE});
    EXPECT_FALSE(session->Fetching());
}
