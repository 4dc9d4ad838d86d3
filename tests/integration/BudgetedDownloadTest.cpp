// A job in mode 0 (the budgeted mode, a fixed number of bytes per second)
// through the whole service against a real nginx: the transfer spans several
// budget periods, so it completes only if every per-second refill re-arms the
// connection, not just the first limit that applies at once.

#include "AgentServerProcess.h"
#include "NginxProcess.h"
#include "platform/Connectivity.h"
#include "service/DlApi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool Connected()
{
    return true;
}

struct Events {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> seen;

    static void Callback(int code, int, const void* userData)
    {
        auto* events = static_cast<Events*>(const_cast<void*>(userData));
        std::lock_guard<std::mutex> guard(events->mutex);
        events->seen.push_back(code);
        events->changed.notify_all();
    }
    int Count(int code)
    {
        std::lock_guard<std::mutex> guard(mutex);
        return static_cast<int>(std::count(seen.begin(), seen.end(), code));
    }
    // Waits for completion or a notice, whichever comes first.
    int WaitForEnd()
    {
        std::unique_lock<std::mutex> lock(mutex);
        int found = 0;
        changed.wait_for(lock, std::chrono::seconds(120), [&] {
            for (int code : seen)
                if (code == DL_EVENT_JOB_COMPLETE || code == DL_EVENT_NOTICE) found = code;
            return found != 0;
        });
        return found;
    }
};

} // namespace

TEST(BudgetedDownload, AModeZeroJobOfSeveralBudgetPeriodsCompletesByteIdentical)
{
    const std::string base = std::string(getenv("HOME")) + "/BudgetedDownload";
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(base + "/nginx"));
    AgentServerProcess agent;
    ASSERT_TRUE(agent.Start(base + "/reports.jsonl"));
    setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(agent.Port())).c_str(), 1);
    SetConnectivityCheckForTesting(&Connected);
    setenv("ZDR_NO_ENGINE", "1", 1); // the plain path's budget: no engine downloader

    // Mode 0 receives 393216 bytes per second: four periods at least.
    std::mt19937 random(7);
    std::string bytes(4 * 393216 + 1000, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    std::filesystem::create_directories(nginx.Root() + "/files");
    std::ofstream(nginx.Root() + "/files/budgeted.bin", std::ios::binary) << bytes;
    const std::string target = base + "/download/";

    Events events;
    ASSERT_EQ(DlInitialize(nullptr, &Events::Callback, &events), DL_OK);
    int job = 0;
    ASSERT_EQ(DlCreateJob(&job, "zdr", "svc-budget"), DL_OK);
    ASSERT_EQ(DlAddJobFile(job, nginx.Url("/files/budgeted.bin").c_str(), target.c_str(), "budgeted.bin", 0xFFFFFFFFu, -1, 1),
              DL_OK);
    ASSERT_EQ(DlStartJob(job, 0), DL_OK);
    EXPECT_EQ(events.WaitForEnd(), DL_EVENT_JOB_COMPLETE);
    // Progress comes once a second while the job runs: it ran for several.
    EXPECT_GE(events.Count(DL_EVENT_JOB_PROGRESS), 3);
    DlFinalize();
    std::ifstream in(target + "budgeted.bin", std::ios::binary);
    std::stringstream landed;
    landed << in.rdbuf();
    EXPECT_TRUE(landed.str() == bytes) << "landed " << landed.str().size() << " of " << bytes.size() << " bytes";

    SetConnectivityCheckForTesting(nullptr);
    unsetenv("ZDR_AGENT_HOST");
    nginx.Stop();
    agent.Stop();
}
