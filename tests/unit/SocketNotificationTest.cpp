// The one-shot notification rules of platform/Sockets.h on real loopback
// sockets.

#include "platform/MessageLoop.h"
#include "platform/Sockets.h"
#include "unit/MessagePump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

using testpump::PumpFor;
using testpump::PumpUntil;

namespace {

constexpr UINT kNoteMessage = WM_USER + 77;
constexpr uint32_t kLoopback = 0x0100007F; // 127.0.0.1 in network order

struct Note {
    SOCKET socket;
    long code;
    int error;
};
std::vector<Note> g_notes;

LRESULT NoteProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kNoteMessage) {
        const int32_t packed = static_cast<int32_t>(lParam);
        g_notes.push_back(Note{static_cast<SOCKET>(wParam), packed & 0xFFFF, packed >> 16});
    }
    return 0;
}

int Count(long code)
{
    int count = 0;
    for (const Note& note : g_notes)
        if (note.code == code) ++count;
    return count;
}

const Note* Find(long code)
{
    for (const Note& note : g_notes)
        if (note.code == code) return &note;
    return nullptr;
}

class SocketNotification : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_notes.clear();
        m_window = CreateMessageWindow(&NoteProc, nullptr);
        m_listener = SockCreate(SockType::Stream);
        ASSERT_NE(m_listener, INVALID_SOCKET);
        ASSERT_TRUE(SockBind(m_listener, SOCKADDR_V4{kLoopback, 0}));
        ASSERT_TRUE(SockListen(m_listener, 5));
        ASSERT_TRUE(SockGetLocalAddress(m_listener, &m_listenAddress));
    }
    void TearDown() override
    {
        for (SOCKET s : {m_client, m_server, m_listener})
            if (s != INVALID_SOCKET) SockClose(s);
        DestroyMessageWindow(m_window);
    }

    // A non-blocking client selected for every notification, connecting.
    void StartClient(const SOCKADDR_V4& target, long mask = 63)
    {
        m_client = SockCreate(SockType::Stream);
        ASSERT_NE(m_client, INVALID_SOCKET);
        ASSERT_TRUE(SockSetNonBlocking(m_client, true));
        ASSERT_TRUE(SockAsyncSelect(m_client, m_window, kNoteMessage, mask));
        ASSERT_FALSE(SockConnect(m_client, target));
        ASSERT_EQ(SockLastError(), WSAEWOULDBLOCK);
    }

    // A connected pair whose connect and first write notifications are in.
    void Connect()
    {
        StartClient(m_listenAddress);
        m_server = SockAccept(m_listener, nullptr);
        ASSERT_NE(m_server, INVALID_SOCKET);
        ASSERT_TRUE(PumpUntil([] { return Count(FD_WRITE) == 1; }));
    }

    void ServerSend(const std::string& text)
    {
        ASSERT_EQ(SockSend(m_server, text.data(), text.size()), static_cast<long>(text.size()));
    }

    HWND m_window = nullptr;
    SOCKET m_listener = INVALID_SOCKET;
    SOCKET m_client = INVALID_SOCKET;
    SOCKET m_server = INVALID_SOCKET;
    SOCKADDR_V4 m_listenAddress{};
};

} // namespace

TEST_F(SocketNotification, ConnectToAListenerReportsConnectWithoutErrorThenWriteOnce)
{
    Connect();
    PumpFor(100);
    ASSERT_EQ(Count(FD_CONNECT), 1);
    EXPECT_EQ(Find(FD_CONNECT)->error, 0);
    EXPECT_EQ(Find(FD_CONNECT)->socket, m_client);
    EXPECT_EQ(g_notes.front().code, FD_CONNECT);
    EXPECT_EQ(Count(FD_WRITE), 1);
    EXPECT_EQ(Count(FD_READ) + Count(FD_CLOSE), 0);
}

TEST_F(SocketNotification, ConnectToAClosedPortReportsRefusedAndNothingElse)
{
    SOCKADDR_V4 closedPort = m_listenAddress;
    SockClose(m_listener);
    m_listener = INVALID_SOCKET;
    StartClient(closedPort);
    ASSERT_TRUE(PumpUntil([] { return Count(FD_CONNECT) == 1; }));
    PumpFor(100);
    EXPECT_EQ(Find(FD_CONNECT)->error, WSAECONNREFUSED);
    EXPECT_EQ(g_notes.size(), 1u);
}

TEST_F(SocketNotification, ReadIsReportedAgainOnlyAfterAReceive)
{
    Connect();
    ServerSend("abc");
    ASSERT_TRUE(PumpUntil([] { return Count(FD_READ) == 1; }));
    ServerSend("def");
    PumpFor(150);
    EXPECT_EQ(Count(FD_READ), 1);

    char buffer[16];
    ASSERT_EQ(SockRecv(m_client, buffer, 2), 2);
    ASSERT_TRUE(PumpUntil([] { return Count(FD_READ) == 2; }));
    long rest = SockRecv(m_client, buffer, sizeof buffer);
    EXPECT_EQ(rest, 4);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(rest)), "cdef");
    PumpFor(100);
    EXPECT_EQ(Count(FD_READ), 2);
    EXPECT_EQ(Count(FD_CLOSE), 0);
}

TEST_F(SocketNotification, OrderlyCloseIsReportedOnceEverySentByteWasReceived)
{
    Connect();
    const std::string sent(3000, 'x');
    ServerSend(sent);
    SockClose(m_server);
    m_server = INVALID_SOCKET;
    ASSERT_TRUE(PumpUntil([] { return Count(FD_READ) == 1; }));
    PumpFor(100);
    EXPECT_EQ(Count(FD_CLOSE), 0);

    std::string received;
    char buffer[1024];
    long n;
    while ((n = SockRecv(m_client, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<size_t>(n));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(received, sent);
    ASSERT_TRUE(PumpUntil([] { return Count(FD_CLOSE) == 1; }));
    EXPECT_EQ(Find(FD_CLOSE)->error, 0);
    EXPECT_EQ(g_notes.back().code, FD_CLOSE);
    PumpFor(100);
    EXPECT_EQ(Count(FD_CLOSE), 1);
}

TEST_F(SocketNotification, ResetByThePeerIsReportedAsCloseWithItsError)
{
    Connect();
    ASSERT_TRUE(SockSetLinger(m_server, true, 0));
    SockClose(m_server);
    m_server = INVALID_SOCKET;
    ASSERT_TRUE(PumpUntil([] { return Count(FD_CLOSE) == 1; }));
    EXPECT_EQ(Find(FD_CLOSE)->error, WSAECONNRESET);
}

TEST_F(SocketNotification, WriteIsReportedAgainAfterASendThatWouldBlockOnceSpaceReturns)
{
    Connect();
    std::vector<char> chunk(65536, 'y');
    long total = 0;
    for (;;) {
        long sent = SockSend(m_client, chunk.data(), chunk.size());
        if (sent < 0) break;
        total += sent;
    }
    ASSERT_EQ(SockLastError(), WSAEWOULDBLOCK);
    PumpFor(100);
    EXPECT_EQ(Count(FD_WRITE), 1);

    std::thread drain([this, total] {
        std::vector<char> buffer(65536);
        long read = 0;
        while (read < total) {
            long n = SockRecv(m_server, buffer.data(), buffer.size());
            if (n <= 0) break;
            read += n;
        }
    });
    EXPECT_TRUE(PumpUntil([] { return Count(FD_WRITE) == 2; }));
    drain.join();
}

TEST_F(SocketNotification, SelectingAgainOnAConnectedSocketReportsWriteAnew)
{
    Connect();
    ASSERT_TRUE(SockAsyncSelect(m_client, m_window, kNoteMessage, 39));
    EXPECT_TRUE(PumpUntil([] { return Count(FD_WRITE) == 2; }));
}

TEST_F(SocketNotification, MaskZeroCancelsEveryNotification)
{
    Connect();
    ASSERT_TRUE(SockAsyncSelect(m_client, m_window, 0, 0));
    ServerSend("data");
    SockClose(m_server);
    m_server = INVALID_SOCKET;
    PumpFor(150);
    EXPECT_EQ(Count(FD_READ) + Count(FD_CLOSE), 0);
}

TEST_F(SocketNotification, NotificationsGoToTheWindowThreadWhoeverSelects)
{
    std::thread other([this] {
        m_client = SockCreate(SockType::Stream);
        SockSetNonBlocking(m_client, true);
        SockAsyncSelect(m_client, m_window, kNoteMessage, 63);
        SockConnect(m_client, m_listenAddress);
    });
    other.join();
    ASSERT_NE(m_client, INVALID_SOCKET);
    EXPECT_TRUE(PumpUntil([] { return Count(FD_CONNECT) == 1 && Count(FD_WRITE) == 1; }));
    EXPECT_EQ(Find(FD_CONNECT)->error, 0);
}

TEST(SocketErrors, SystemErrorsMapOntoTheSocketLibraryNumbers)
{
    struct Case {
        int errnoValue;
        bool nonBlockingConnect;
        int expected;
    };
    const Case cases[] = {
        {EAGAIN, false, WSAEWOULDBLOCK},       {EWOULDBLOCK, false, WSAEWOULDBLOCK},
        {EINPROGRESS, true, WSAEWOULDBLOCK},   {EINPROGRESS, false, WSAEINPROGRESS},
        {EALREADY, false, WSAEALREADY},        {ENOTSOCK, false, WSAENOTSOCK},
        {EBADF, false, WSAENOTSOCK},           {ENOBUFS, false, WSAENOBUFS},
        {ECONNREFUSED, false, WSAECONNREFUSED}, {EHOSTUNREACH, false, WSAEHOSTUNREACH},
        {ETIMEDOUT, false, WSAETIMEDOUT},      {ECONNRESET, false, WSAECONNRESET},
        {EPIPE, false, WSAESHUTDOWN},          {EDEADLK, false, WSABASEERR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SockErrorFromErrno(c.errnoValue, c.nonBlockingConnect), c.expected) << std::strerror(c.errnoValue);
}

TEST(SocketErrors, CallsOnAnUnknownDescriptorAnswerNotSocket)
{
    char buffer[4];
    EXPECT_EQ(SockRecv(12345, buffer, sizeof buffer), -1);
    EXPECT_EQ(SockLastError(), WSAENOTSOCK);
    EXPECT_FALSE(SockClose(12345));
    EXPECT_EQ(SockLastError(), WSAENOTSOCK);
}
