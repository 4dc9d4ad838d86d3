// Thread timers on the real clock. Sleeps only make sure that expiries have
// passed; every wait for a message has a generous bound for a busy machine.

#include "platform/MessageLoop.h"
#include "platform/ThreadTimer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

int g_calls = 0;
UINT_PTR g_calledId = 0;

void CountingProc(HWND, UINT, UINT_PTR id, DWORD)
{
    ++g_calls;
    g_calledId = id;
}

} // namespace

TEST(ThreadTimer, ExpiryDispatchesWmTimerToItsProcedure)
{
    UINT_PTR id = SetTimer(nullptr, 10, 20, &CountingProc);
    ASSERT_NE(id, 0u);
    MSG msg;
    ASSERT_TRUE(GetMessageTimeout(&msg, 10000));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.wParam, id);
    EXPECT_EQ(msg.lParam, reinterpret_cast<LPARAM>(&CountingProc));
    DispatchMessage(&msg);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_calledId, id);
    EXPECT_TRUE(KillTimer(nullptr, id));
}

TEST(ThreadTimer, ExpiriesMergeWhileOneMessageWaitsForDispatch)
{
    UINT_PTR id = SetTimer(nullptr, 0, 10, &CountingProc);
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    MSG first;
    ASSERT_TRUE(GetMessageTimeout(&first, 10000));
    ASSERT_EQ(first.message, WM_TIMER);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    MSG next;
    EXPECT_FALSE(PeekMessage(&next, true));
    DispatchMessage(&first);
    ASSERT_TRUE(GetMessageTimeout(&next, 10000));
    EXPECT_EQ(next.message, WM_TIMER);
    EXPECT_EQ(next.wParam, id);
    KillTimer(nullptr, id);
}

TEST(ThreadTimer, KillTimerDropsThePendingMessageAndEndsExpiries)
{
    UINT_PTR id = SetTimer(nullptr, 0, 10, &CountingProc);
    ASSERT_NE(id, 0u);
    MSG msg;
    ASSERT_TRUE(GetMessageTimeout(&msg, 10000));
    DispatchMessage(&msg);
    // The next expiry waits in the queue.
    msg = MSG{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!PeekMessage(&msg, false) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_TRUE(KillTimer(nullptr, id));
    EXPECT_FALSE(PeekMessage(&msg, true));
    EXPECT_FALSE(GetMessageTimeout(&msg, 100));
    EXPECT_FALSE(KillTimer(nullptr, id));
}

TEST(ThreadTimer, SetTimerWithTheIdOfALiveTimerChangesThatTimer)
{
    UINT_PTR id = SetTimer(nullptr, 0, 5000, &CountingProc);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(SetTimer(nullptr, id, 10, &CountingProc), id);
    MSG msg;
    ASSERT_TRUE(GetMessageTimeout(&msg, 10000));
    EXPECT_EQ(msg.wParam, id);
    EXPECT_TRUE(KillTimer(nullptr, id));
}

TEST(ThreadTimer, KillTimerWorksFromAnotherThreadAfterTheOwnerEnded)
{
    UINT_PTR id = 0;
    std::thread owner([&id] { id = SetTimer(nullptr, 0, 10, &CountingProc); });
    owner.join();
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(KillTimer(nullptr, id));
}

TEST(ThreadTimer, WindowTimersAreNotSupported)
{
    HWND window = CreateMessageWindow([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; }, nullptr);
    EXPECT_EQ(SetTimer(window, 1, 10, &CountingProc), 0u);
    DestroyMessageWindow(window);
}
