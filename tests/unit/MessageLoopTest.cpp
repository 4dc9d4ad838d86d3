#include "platform/CAutoResetEvent.h"
#include "platform/CPlatformThread.h"
#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Received {
    std::vector<MSG> messages;
};

LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* received = static_cast<Received*>(GetMessageWindowUserData(window));
    received->messages.push_back(MSG{window, message, wParam, lParam});
    return 0;
}

} // namespace

TEST(MessageLoop, MessagesPostedFromAnotherThreadArriveInOrder)
{
    Received received;
    HWND window = CreateMessageWindow(&RecordingProc, &received);
    ASSERT_NE(window, nullptr);
    const DWORD self = GetCurrentThreadId();
    std::thread poster([&] {
        for (int i = 0; i < 200; ++i) {
            if (i % 2) ASSERT_TRUE(PostMessage(window, WM_USER + 1, static_cast<WPARAM>(i), -i));
            else ASSERT_TRUE(PostThreadMessage(self, WM_USER + 2, static_cast<WPARAM>(i), 0));
        }
        PostThreadMessage(self, WM_QUIT, 7, 0);
    });
    MSG msg;
    std::vector<WPARAM> order;
    int result;
    while ((result = GetMessage(&msg)) > 0) {
        order.push_back(msg.wParam);
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
    poster.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
    ASSERT_EQ(order.size(), 200u);
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
    ASSERT_EQ(received.messages.size(), 100u); // thread messages have no window procedure
    EXPECT_EQ(received.messages[0].lParam, -1);
    DestroyMessageWindow(window);
}

TEST(MessageLoop, QuitMessageEndsGetMessage)
{
    PostQuitMessage(3);
    MSG msg;
    EXPECT_EQ(GetMessage(&msg), 0);
    EXPECT_EQ(msg.wParam, 3u);
}

TEST(MessageLoop, MessagesForADestroyedWindowAreDroppedAtDispatch)
{
    Received received;
    HWND window = CreateMessageWindow(&RecordingProc, &received);
    ASSERT_TRUE(PostMessage(window, WM_USER, 1, 0));
    ASSERT_TRUE(DestroyMessageWindow(window));
    EXPECT_FALSE(PostMessage(window, WM_USER, 2, 0)); // refused once destroyed
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, true));
    EXPECT_EQ(DispatchMessage(&msg), 0);
    EXPECT_TRUE(received.messages.empty());
    EXPECT_FALSE(PeekMessage(&msg, true));
}

TEST(MessageLoop, PostToAThreadWithoutQueueIsRefused)
{
    EXPECT_FALSE(PostThreadMessage(0x7FFFFFF0u, WM_USER, 0, 0));
}

TEST(MessageLoop, GetMessageTimeoutGivesUpWhenNothingArrives)
{
    MSG msg;
    EXPECT_FALSE(GetMessageTimeout(&msg, 20));
}

TEST(MessageLoop, ForeignWindowHandsMessagesToItsOwnerOnThePostingThread)
{
    struct Owner {
        std::mutex mutex;
        std::vector<MSG> messages;
        std::vector<std::thread::id> threads;
    } owner;
    auto deliver = [](void* ownerPointer, const MSG& msg) {
        auto* target = static_cast<Owner*>(ownerPointer);
        std::lock_guard<std::mutex> guard(target->mutex);
        target->messages.push_back(msg);
        target->threads.push_back(std::this_thread::get_id());
    };
    HWND window = CreateForeignWindow(deliver, &owner);
    ASSERT_NE(window, nullptr);
    std::thread::id posterId;
    std::thread poster([&] {
        posterId = std::this_thread::get_id();
        EXPECT_TRUE(PostMessage(window, 11024, 516, 0x1234));
    });
    poster.join();
    ASSERT_EQ(owner.messages.size(), 1u);
    EXPECT_EQ(owner.messages[0].hwnd, window);
    EXPECT_EQ(owner.messages[0].message, 11024u);
    EXPECT_EQ(owner.messages[0].wParam, 516u);
    EXPECT_EQ(owner.messages[0].lParam, 0x1234);
    EXPECT_EQ(owner.threads[0], posterId);
    DestroyMessageWindow(window);
    EXPECT_FALSE(PostMessage(window, 11024, 516, 0));
}

TEST(CPlatformThread, PostsSucceedAsSoonAsStartReturns)
{
    CPlatformThread thread;
    CAutoResetEvent release;
    std::vector<WPARAM> seen;
    ASSERT_TRUE(thread.Start([&] {
        release.Wait(INFINITE_WAIT);
        MSG msg;
        while (GetMessage(&msg) > 0) seen.push_back(msg.wParam);
    }));
    // The thread has not reached its loop yet, but its queue exists.
    EXPECT_TRUE(PostThreadMessage(thread.ThreadId(), WM_USER, 1, 0));
    EXPECT_TRUE(PostThreadMessage(thread.ThreadId(), WM_USER, 2, 0));
    EXPECT_TRUE(PostThreadMessage(thread.ThreadId(), WM_QUIT, 0, 0));
    release.Set();
    ASSERT_TRUE(thread.WaitForEnd(10000));
    EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));
    EXPECT_FALSE(PostThreadMessage(thread.ThreadId(), WM_USER, 3, 0)); // ended thread
}

TEST(CPlatformThread, WaitForEndTimesOutOnAThreadThatKeepsRunning)
{
    auto stop = std::make_shared<CAutoResetEvent>();
    CPlatformThread thread;
    ASSERT_TRUE(thread.Start([stop] { stop->Wait(INFINITE_WAIT); }));
    EXPECT_FALSE(thread.WaitForEnd(50));
    stop->Set();
    EXPECT_TRUE(thread.WaitForEnd(10000));
}
