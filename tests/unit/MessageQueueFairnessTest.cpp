// A thread flooded with posted messages still hears its timers and sockets:
// the queue looks at its poll sources at least every few messages, so a fast
// transfer's stream of read reports cannot hold back the once-a-second tick,
// connect time-outs or another connection's reports.

#include "platform/MessageLoop.h"
#include "platform/Sockets.h"
#include "platform/ThreadTimer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

constexpr UINT kStreamMessage = WM_USER + 91;
constexpr UINT kNoteMessage = WM_USER + 92;
constexpr uint32_t kLoopback = 0x0100007F; // 127.0.0.1 in network order
// The queue promises a look at its sources within this many messages.
constexpr int kWithinMessages = 64;
constexpr int kGiveUpAfter = 100000;

int g_timerCalls = 0;
int g_readNotes = 0;

void TimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    ++g_timerCalls;
}

LRESULT NoteProc(HWND, UINT message, WPARAM, LPARAM lParam)
{
    if (message == kNoteMessage && (static_cast<int32_t>(lParam) & 0xFFFF) == FD_READ) ++g_readNotes;
    return 0;
}

// Keeps a stream of posted messages going (each stream message posts the
// next one; the caller posts the first) until done() holds; answers how many
// stream messages went by first.
template <class Done>
int StreamUntil(Done done)
{
    int streamed = 0;
    while (!done() && streamed < kGiveUpAfter) {
        MSG msg;
        if (!GetMessageTimeout(&msg, 10000)) break;
        if (msg.message == kStreamMessage) {
            ++streamed;
            PostThreadMessage(GetCurrentThreadId(), kStreamMessage, 0, 0);
            continue;
        }
        DispatchMessage(&msg);
    }
    // Leaves no stream message behind for the next test.
    MSG left;
    while (PeekMessage(&left, true)) {
    }
    return streamed;
}

} // namespace

TEST(MessageQueueFairness, ATimerThatExpiredDuringAStreamOfPostsStillArrives)
{
    g_timerCalls = 0;
    const UINT_PTR id = SetTimer(nullptr, 0, 100, &TimerProc);
    ASSERT_NE(id, 0u);
    PostThreadMessage(GetCurrentThreadId(), kStreamMessage, 0, 0);
    // The expiry passes while a posted message waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const int streamed = StreamUntil([] { return g_timerCalls > 0; });
    EXPECT_EQ(g_timerCalls, 1);
    EXPECT_LE(streamed, kWithinMessages);
    KillTimer(nullptr, id);
}

TEST(MessageQueueFairness, ASecondSocketsReadReportArrivesDuringAStreamOfPosts)
{
    g_readNotes = 0;
    HWND window = CreateMessageWindow(&NoteProc, nullptr);
    SOCKET listener = SockCreate(SockType::Stream);
    ASSERT_NE(listener, INVALID_SOCKET);
    SOCKADDR_V4 address{};
    ASSERT_TRUE(SockBind(listener, SOCKADDR_V4{kLoopback, 0}));
    ASSERT_TRUE(SockListen(listener, 1));
    ASSERT_TRUE(SockGetLocalAddress(listener, &address));
    SOCKET client = SockCreate(SockType::Stream);
    ASSERT_NE(client, INVALID_SOCKET);
    ASSERT_TRUE(SockConnect(client, address) || SockLastError() == WSAEWOULDBLOCK);
    SOCKET server = SockAccept(listener, nullptr);
    ASSERT_NE(server, INVALID_SOCKET);
    ASSERT_TRUE(SockSetNonBlocking(client, true));
    ASSERT_TRUE(SockAsyncSelect(client, window, kNoteMessage, FD_READ));
    MSG msg;
    while (PeekMessage(&msg, true)) DispatchMessage(&msg);
    ASSERT_EQ(g_readNotes, 0);

    int sentAfter = 0;
    PostThreadMessage(GetCurrentThreadId(), kStreamMessage, 0, 0);
    // The peer's bytes arrive while the stream runs.
    const int streamed = StreamUntil([&] {
        if (sentAfter++ == 10) {
            EXPECT_EQ(SockSend(server, "x", 1), 1);
        }
        return g_readNotes > 0;
    });
    EXPECT_EQ(g_readNotes, 1);
    EXPECT_LE(streamed, 10 + kWithinMessages);
    for (SOCKET s : {client, server, listener}) SockClose(s);
    DestroyMessageWindow(window);
}
