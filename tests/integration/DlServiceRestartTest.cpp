// A service whose thread had to be abandoned, then a new service: never a
// half-working one. While the old thread still runs, DlInitialize refuses; once
// it has ended, the new service has its own runtime and fetches a whole file
// from a real nginx.

#include "DemoPortal.h"
#include "netlib/core/cpCMutex.h"
#include "service/DlApi.h"
#include "service/DlTesting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

std::atomic<int> g_fetchEvent{0};

void Callback(int code, int, const void*)
{
    if (code == DL_EVENT_FETCH_DONE || code == DL_EVENT_FETCH_FAILED) g_fetchEvent.store(code);
}

} // namespace

TEST(DlServiceRestart, AfterAnAbandonedServiceThreadTheNextServiceFetchesAWholeFile)
{
    // The service without the engine path: its update check would run on the
    // thread this test abandons.
    setenv("ZDR_NO_ENGINE", "1", 1);
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    const std::string path = "/download/vx2/zdrdownload/filelist.txt";
    const std::string expected = portal.Served(path);
    ASSERT_FALSE(expected.empty());

    ASSERT_EQ(DlInitialize(nullptr, nullptr, nullptr), DL_OK);
    cpCMutex* lock = DlNetworkLockForTesting();
    ASSERT_NE(lock, nullptr);
    // Holding its network lock keeps the service thread from finishing its
    // shut-down: DlFinalize has to abandon it.
    lock->Lock();
    EXPECT_EQ(DlFinalize(), DL_OK);
    EXPECT_EQ(DlInitialize(nullptr, &Callback, nullptr), DL_ERR_GENERAL);
    EXPECT_EQ(DlFetchData(portal.Url(path).c_str()), DL_ERR_GENERAL);
    EXPECT_EQ(DlFinalize(), DL_OK);
    lock->Unlock();

    ASSERT_EQ(DlInitialize(nullptr, &Callback, nullptr), DL_OK);
    g_fetchEvent.store(0);
    ASSERT_EQ(DlFetchData(portal.Url(path).c_str()), DL_OK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_fetchEvent.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(g_fetchEvent.load(), DL_EVENT_FETCH_DONE);
    long long size = 0;
    ASSERT_EQ(DlGetFetchedSize(&size), DL_OK);
    ASSERT_EQ(size, static_cast<long long>(expected.size()));
    // A buffer that names a size other than the body's is never written.
    for (long long wrong : {size - 1, size + 1}) {
        std::string buffer(static_cast<size_t>(size + 1), 'x');
        DlDataBuffer record{buffer.data(), wrong};
        EXPECT_EQ(DlGetFetchedData(&record), DL_ERR_GENERAL) << wrong;
        EXPECT_EQ(buffer, std::string(static_cast<size_t>(size + 1), 'x')) << wrong;
    }
    std::string body(static_cast<size_t>(size), '\0');
    DlDataBuffer record{body.data(), size};
    ASSERT_EQ(DlGetFetchedData(&record), DL_OK);
    EXPECT_EQ(body, expected);
    EXPECT_EQ(DlFinalize(), DL_OK);
}
