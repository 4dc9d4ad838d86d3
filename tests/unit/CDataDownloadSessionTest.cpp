// The in-memory fetch on a scripted connection with an injected clock: a
// server that trickles its answer below the transfer floor fails the fetch
// after one window, however often its bytes beat the idle limit; one above
// the floor completes.

#include "ScriptedConnection.h"
#include "engine/ActivityLog.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/runtime/cpCTimerManager.h"
#include "service/CDataDownloadSession.h"
#include "service/TransferFloor.h"
#include "unit/RuntimeTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

class Recorder : public IDataDownloadSessionEventListener {
public:
    std::vector<int> failures;
    std::vector<long long> ready;
    void OnDataReady(const void*, long long size) override { ready.push_back(size); }
    void OnDataFailed(int reason) override { failures.push_back(reason); }
    void OnDataTick() override {}
    bool Ended() const { return !failures.empty() || !ready.empty(); }
};

std::string ReadLog()
{
    char path[4096];
    LogPath(path, sizeof path);
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

class DataDownloadSession : public testing::Test {
protected:
    void SetUp() override
    {
        ScriptedConnection::Install();
        LogReset();
        testrt::g_nowMs = testrt::At(1700049600);
        cpSetClockForTesting(&testrt::TestClock);
        lock.CreateInstance(CLSID_cpCMutex);
        ASSERT_EQ(cpCTimerManager::Create(lock.As<cpCMutex>()), VQ_OK_PLATFORM);
    }
    void TearDown() override
    {
        session.reset();
        cpCTimerManager::Destroy();
        cpSetClockForTesting(nullptr);
        ScriptedConnection::Uninstall();
    }
    static void ElapseOneTick()
    {
        testrt::g_nowMs += cpCTimerManager::kTickPeriodMs;
        cpCTimerManager::Get()->Tick();
    }

    vqSmartPtr lock;
    Recorder recorder;
    std::unique_ptr<CDataDownloadSession> session;
};

} // namespace

TEST_F(DataDownloadSession, AnAnswerTrickledBelowTheFloorFailsAfterOneWindowAndOneAboveItCompletes)
{
    ASSERT_EQ(kTransferFloorBytes, 30 * 1024);
    ASSERT_EQ(kTransferFloorWindowMs, 30000);
    struct Case {
        const char* what;
        std::string answer; // sent piece by piece from the connection's start
        size_t piece;
        uint64_t everyMs;
        bool completes;
    };
    const std::string list(45, 'l');
    const std::string large(70 * 1024, 'b');
    const Case cases[] = {
        {"45 bytes of list, one every 2 s", HttpAnswer("200 OK", {"Content-Length: 45"}, list), 1, 2000, false},
        {"a header that never ends, a byte every 2 s", "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(200, 'p'), 1, 2000,
         false},
        {"1000 bytes a second", HttpAnswer("200 OK", {"Content-Length: 71680"}, large), 1000, 1000, false},
        {"2 KiB a second, past one window", HttpAnswer("200 OK", {"Content-Length: 71680"}, large), 2048, 1000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        recorder = Recorder();
        session = std::make_unique<CDataDownloadSession>(&recorder);
        session->Fetch("http://files.test/filelist.txt");
        ASSERT_EQ(ScriptedConnection::Count(), 1u);
        ScriptedConnection& connection = ScriptedConnection::At(0);
        connection.PeerAccept();
        size_t sent = 0;
        uint64_t elapsed = 0;
        while (!recorder.Ended() && elapsed < 120000) {
            if (elapsed % c.everyMs == 0 && sent < c.answer.size()) {
                connection.Answer(c.answer.substr(sent, c.piece));
                sent += c.piece;
            }
            ElapseOneTick();
            elapsed += cpCTimerManager::kTickPeriodMs;
        }
        if (c.completes) {
            EXPECT_EQ(recorder.ready, (std::vector<long long>{71680}));
            EXPECT_TRUE(recorder.failures.empty());
            continue;
        }
        EXPECT_EQ(recorder.failures, (std::vector<int>{DATA_FAILED_TOO_SLOW}));
        EXPECT_TRUE(recorder.ready.empty());
        // Judged by the once-a-second tick after a whole window.
        EXPECT_GE(elapsed, 30000u);
        EXPECT_LE(elapsed, 31100u);
        EXPECT_TRUE(connection.closed);
        EXPECT_NE(ReadLog().find("[MeshpullLib] Data Download Failed reason:8 url:http://files.test/filelist.txt "
                                  "(fewer than 30720 bytes in 30 s)\r\n"),
                  std::string::npos);
    }
}
