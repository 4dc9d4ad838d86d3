// The network shaper between a client and a server of the test on 127.0.0.1:
// its delays and caps are what its options say, and it passes every byte and
// the end of the stream on unchanged. The bounds are generous: a loaded
// machine only makes things slower, so the lower bounds are what is checked
// closely, and an upper bound only catches a shaper that is far off.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "LoopbackSockets.h"
#include "NetShaperProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaitMs = 20000;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The bytes the server sends on its index-th connection: no two connections
// and no two nearby offsets alike, so a splice or a reorder shows.
std::string Pattern(size_t size, int index)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251 + index * 13) % 256);
    return bytes;
}

// A server on 127.0.0.1 that answers each connection in a thread of its own:
// with an echo of every byte, or with one body and an orderly close.
class TestServer {
public:
    explicit TestServer(size_t bodySize = 0) : m_bodySize(bodySize)
    {
        m_listener = ListenOnLoopback(16, m_port);
        m_acceptor = std::thread([this] { Accept(); });
    }
    ~TestServer()
    {
        m_stop = true;
        m_acceptor.join();
        for (auto& answer : m_answers) answer.join();
        close(m_listener);
    }
    uint16_t Port() const { return m_port; }

private:
    void Accept()
    {
        for (int index = 0; !m_stop;) {
            const int fd = AcceptWithin(m_listener, 50);
            if (fd < 0) continue;
            m_answers.emplace_back([this, fd, index] { m_bodySize ? SendBody(fd, index) : Echo(fd); });
            ++index;
        }
    }
    void SendBody(int fd, int index)
    {
        SendAnswer(fd, Pattern(m_bodySize, index), m_bodySize, 0, m_stop);
        close(fd);
    }
    void Echo(int fd)
    {
        char buffer[4096];
        while (!m_stop) {
            pollfd r{fd, POLLIN, 0};
            if (poll(&r, 1, 50) != 1) continue;
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0 || send(fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
        }
        close(fd);
    }

    size_t m_bodySize;
    uint16_t m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_answers;
};

int Connect(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Everything fd receives up to its orderly end, or what came before
// kWaitMs passed without a byte (then closed is false).
std::string ReadToEnd(int fd, bool& closed)
{
    std::string bytes;
    char buffer[65536];
    closed = false;
    for (;;) {
        pollfd r{fd, POLLIN, 0};
        if (poll(&r, 1, kWaitMs) != 1) return bytes;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) return bytes;
        if (n == 0) {
            closed = true;
            return bytes;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

// Seconds from sending one byte to its echo coming back; -1 when it did not.
double RoundTrip(int fd)
{
    const auto start = Clock::now();
    if (send(fd, "x", 1, MSG_NOSIGNAL) != 1) return -1;
    pollfd r{fd, POLLIN, 0};
    char echo = 0;
    if (poll(&r, 1, kWaitMs) != 1 || recv(fd, &echo, 1, 0) != 1 || echo != 'x') return -1;
    return SecondsSince(start);
}

TEST(NetShaper, EachRoundTripTakesBothDelaysAndTheFirstOneAHandshakeMore)
{
    TestServer server;
    NetShaperProcess shaper;
    ASSERT_TRUE(shaper.Start(server.Port(), {"--up-delay", "60", "--down-delay", "40"}));
    const int fd = Connect(shaper.Port());
    ASSERT_GE(fd, 0);
    const double first = RoundTrip(fd);
    EXPECT_GE(first, 0.200) << "a handshake's round trip, then the byte's";
    EXPECT_LT(first, 1.0);
    for (int i = 0; i < 3; ++i) {
        const double later = RoundTrip(fd);
        EXPECT_GE(later, 0.100) << "round trip " << i + 2;
        EXPECT_LT(later, 0.500) << "round trip " << i + 2;
    }
    close(fd);
    EXPECT_TRUE(shaper.Stop());
}

struct CapCase {
    const char* name;
    std::vector<std::string> shaping;
    int connections;
    size_t bytesEach;
    double atLeastSeconds; // what the cap allows, less its pacing slack; 0: no cap
};

void PrintTo(const CapCase& row, std::ostream* out)
{
    *out << row.name;
}

class NetShaperCaps : public testing::TestWithParam<CapCase> {};

TEST_P(NetShaperCaps, EveryByteArrivesInOrderNoFasterThanTheCap)
{
    const CapCase& row = GetParam();
    TestServer server(row.bytesEach);
    NetShaperProcess shaper;
    ASSERT_TRUE(shaper.Start(server.Port(), row.shaping));
    std::vector<int> fds;
    for (int i = 0; i < row.connections; ++i) fds.push_back(Connect(shaper.Port()));
    const auto start = Clock::now();
    std::vector<std::string> received(fds.size());
    std::vector<bool> closed(fds.size());
    std::vector<std::thread> readers;
    for (size_t i = 0; i < fds.size(); ++i)
        readers.emplace_back([&, i] {
            bool end = false;
            received[i] = ReadToEnd(fds[i], end);
            closed[i] = end;
        });
    for (auto& reader : readers) reader.join();
    const double seconds = SecondsSince(start);
    for (int fd : fds) close(fd);
    std::vector<std::string> expected;
    for (int i = 0; i < row.connections; ++i) expected.push_back(Pattern(row.bytesEach, i));
    // The server numbers connections in the order it accepts them, which
    // need not be the order the test opened them in.
    std::sort(received.begin(), received.end());
    std::sort(expected.begin(), expected.end());
    for (size_t i = 0; i < fds.size(); ++i) {
        EXPECT_TRUE(closed[i]) << "connection " << i << " did not see the server's close";
        EXPECT_TRUE(received[i] == expected[i]) << "connection " << i << " got " << received[i].size() << " bytes";
    }
    if (row.atLeastSeconds > 0) {
        EXPECT_GE(seconds, row.atLeastSeconds);
        EXPECT_LT(seconds, row.atLeastSeconds * 5);
    }
    EXPECT_TRUE(shaper.Stop());
}

constexpr size_t kMiB = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(Rows, NetShaperCaps,
    testing::Values(
        CapCase{"Unshaped", {}, 3, 8 * kMiB, 0},
        // 2 MiB at 1 MiB/s: 2 s, less the 20 ms the pacing may catch up.
        CapCase{"PerConnection", {"--rate", "1m"}, 1, 2 * kMiB, 1.9},
        // Two connections of 1 MiB share 1 MiB/s: 2 s for both.
        CapCase{"AllConnections", {"--total-rate", "1m"}, 2, kMiB, 1.9},
        // A small window still passes every byte, only slower.
        CapCase{"SmallWindow", {"--window", "64k", "--delay", "1"}, 2, 4 * kMiB, 0}),
    [](const testing::TestParamInfo<CapCase>& info) { return std::string(info.param.name); });

} // namespace
