// The transfer reporter on the real runtime, talking to our agent server.

#include "AgentServerProcess.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/vqIAgentLayer.h"
#include "netlib/runtime/CVyx.h"
#include "netlib/runtime/cpResolver.h"
#include "platform/MessageLoop.h"
#include "engine/ActivityLog.h"
#include "service/CPlatformReporter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Entries(const std::vector<std::pair<std::string, int64_t>>& files)
{
    std::vector<unsigned char> entries(files.size() * kAgentEntrySize, 0);
    for (size_t i = 0; i < files.size(); ++i) {
        unsigned char* entry = &entries[i * kAgentEntrySize];
        memcpy(entry, "svc", 3);
        memcpy(entry + 33, files[i].first.data(), files[i].first.size());
        memcpy(entry + 289, &files[i].second, 8);
        entry[297] = 1;
    }
    return entries;
}

bool NoHost(const char*, std::vector<uint32_t>*)
{
    return false;
}

class ReporterTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
        network = std::make_unique<CVyx>(lock.As<cpCMutex>());
    }
    void TearDown() override
    {
        reporter.reset();
        network.reset();
        cpSetResolverForTesting(nullptr);
        unsetenv("ZDR_AGENT_HOST");
    }
    bool PumpUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MSG msg;
            if (GetMessageTimeout(&msg, 20)) DispatchMessage(&msg);
        }
        return true;
    }

    vqSmartPtr lock;
    std::unique_ptr<CVyx> network;
    std::unique_ptr<CPlatformReporter> reporter;
};

} // namespace

TEST_F(ReporterTest, ReportsQueuedBeforeTheConnectionGoOutOldestFirst)
{
    AgentServerProcess server;
    ASSERT_TRUE(server.Start(std::string(getenv("HOME")) + "/reports.jsonl"));
    setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(server.Port())).c_str(), 1);
    reporter = std::make_unique<CPlatformReporter>();
    auto first = Entries({{"http://h/a.bin", 100}, {"http://h/b.bin|http://m/b.bin", 200}, {"http://h/c.bin", 0}});
    auto second = Entries({{"http://h/d.bin", 5}});
    reporter->Enqueue(3, first.data());
    reporter->Enqueue(1, second.data()); // the connection is not up yet
    EXPECT_TRUE(reporter->Connected());
    // The reporter closes after the reply once nothing is left to send.
    ASSERT_TRUE(PumpUntil([&] { return !reporter->Connected(); }));
    EXPECT_EQ(reporter->QueuedCount(), 0u);
    EXPECT_EQ(server.Output(), "{\"serviceId\":\"svc\",\"url\":\"http://h/a.bin\",\"bytes\":100}\n"
                               "{\"serviceId\":\"svc\",\"url\":\"http://h/b.bin|http://m/b.bin\",\"bytes\":200}\n"
                               "{\"serviceId\":\"svc\",\"url\":\"http://h/c.bin\",\"bytes\":0}\n"
                               "{\"serviceId\":\"svc\",\"url\":\"http://h/d.bin\",\"bytes\":5}\n");
    // A later report opens a new connection.
    reporter->Enqueue(1, second.data());
    ASSERT_TRUE(PumpUntil([&] { return !reporter->Connected(); }));
    const std::string output = server.Output();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 5);
    EXPECT_EQ(output.substr(output.rfind('{')), "{\"serviceId\":\"svc\",\"url\":\"http://h/d.bin\",\"bytes\":5}\n");
}

TEST_F(ReporterTest, UnresolvableHostKeepsABoundedQueue)
{
    cpSetResolverForTesting(&NoHost);
    setenv("ZDR_AGENT_HOST", "agent.invalid", 1);
    reporter = std::make_unique<CPlatformReporter>();
    auto entry = Entries({{"http://h/a.bin", 1}});
    for (size_t i = 0; i < CPlatformReporter::kMaxQueued + 5; ++i) reporter->Enqueue(1, entry.data());
    EXPECT_FALSE(reporter->Connected());
    EXPECT_EQ(reporter->QueuedCount(), CPlatformReporter::kMaxQueued);
}

TEST_F(ReporterTest, RefusedConnectionKeepsTheReportForTheNextOne)
{
    // A port nobody listens on: take a free one and release it.
    AgentServerProcess probe;
    ASSERT_TRUE(probe.Start(std::string(getenv("HOME")) + "/probe.jsonl"));
    const uint16_t port = probe.Port();
    probe.Stop();
    setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    reporter = std::make_unique<CPlatformReporter>();
    auto entry = Entries({{"http://h/a.bin", 1}});
    reporter->Enqueue(1, entry.data());
    ASSERT_TRUE(PumpUntil([&] { return !reporter->Connected(); }));
    EXPECT_EQ(reporter->QueuedCount(), 1u); // waits for the next connection
}

TEST_F(ReporterTest, AReportThatCouldNotGoIsWrittenToTheLog)
{
    LogReset();
    cpSetResolverForTesting(&NoHost);
    setenv("ZDR_AGENT_HOST", "agent.invalid", 1);
    reporter = std::make_unique<CPlatformReporter>();
    auto entry = Entries({{"http://h/lost.bin", 12345}});
    reporter->Enqueue(1, entry.data());
    EXPECT_FALSE(reporter->Pending()); // nothing to wait for: no connection can carry it
    reporter.reset();
    char path[4096];
    LogPath(path, sizeof path);
    std::ifstream in(path, std::ios::binary);
    std::stringstream log;
    log << in.rdbuf();
    EXPECT_NE(log.str().find("[MeshpullLib] Report Lost : "), std::string::npos) << log.str();
    EXPECT_NE(log.str().find("http://h/lost.bin 12345\r\n"), std::string::npos) << log.str();
}
