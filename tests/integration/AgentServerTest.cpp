// The agent server as a real process on 127.0.0.1, driven over real sockets.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "AgentServerProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes Frame(uint16_t type, uint16_t subtype, const Bytes& payload)
{
    size_t total = (payload.size() + 14 + 7) / 8 * 8;
    Bytes frame(total, 0);
    frame[0] = type & 0xFF;
    frame[1] = type >> 8;
    frame[2] = subtype & 0xFF;
    frame[3] = subtype >> 8;
    uint32_t length = static_cast<uint32_t>(total - 14);
    memcpy(&frame[10], &length, 4);
    // An empty payload has no data pointer to copy from.
    if (!payload.empty()) memcpy(&frame[14], payload.data(), payload.size());
    return frame;
}

Bytes Report(const std::vector<std::tuple<std::string, std::string, int64_t>>& entries)
{
    Bytes payload(4 + 298 * entries.size(), 0);
    int32_t count = static_cast<int32_t>(entries.size());
    memcpy(payload.data(), &count, 4);
    for (size_t i = 0; i < entries.size(); ++i) {
        unsigned char* entry = &payload[4 + 298 * i];
        const auto& [id, url, bytes] = entries[i];
        memcpy(entry, id.data(), std::min<size_t>(id.size(), 32));
        memcpy(entry + 33, url.data(), std::min<size_t>(url.size(), 255));
        memcpy(entry + 289, &bytes, 8);
        entry[297] = 1;
    }
    return Frame(768, 154, payload);
}

class AgentServer : public testing::Test {
protected:
    void SetUp() override
    {
        // One home serves every test of the process: each starts its own record.
        const std::string output = std::string(getenv("HOME")) + "/agent.jsonl";
        unlink(output.c_str());
        ASSERT_TRUE(server.Start(output));
    }
    void TearDown() override { EXPECT_TRUE(server.Stop()); }
    int Connect()
    {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(server.Port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }
    static void SendBytes(int fd, const Bytes& bytes)
    {
        ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Reads exactly n bytes, or fewer when the peer closes; waits at most 20 s.
    static Bytes Receive(int fd, size_t n)
    {
        Bytes got;
        while (got.size() < n) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20000) <= 0) break;
            unsigned char buffer[256];
            ssize_t r = recv(fd, buffer, std::min(sizeof buffer, n - got.size()), 0);
            if (r <= 0) break;
            got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }
    std::string Output() const { return server.Output(); }

    AgentServerProcess server;
};

const Bytes kReply = {0x00, 0x03, 0x83, 0x00, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 0x01, 0};

} // namespace

TEST_F(AgentServer, RecordsEveryEntryAndRepliesOncePerReport)
{
    int fd = Connect();
    Bytes report = Report({{"svc-1", "http://h/a.bin|http://m/a.bin", 1048576},
                           {"svc-1", "http://h/\"q\".bin", 5},
                           {"svc-1", "http://h/c.bin", 0}});
    ASSERT_EQ(report.size(), 912u); // 898-byte payload, padded frame
    Bytes empty = Report({});
    ASSERT_EQ(empty.size(), 24u);
    Bytes both = report;
    both.insert(both.end(), empty.begin(), empty.end());
    SendBytes(fd, both); // two reports in one segment: two replies
    Bytes replies = Receive(fd, 32);
    Bytes expected = kReply;
    expected.insert(expected.end(), kReply.begin(), kReply.end());
    EXPECT_EQ(replies, expected);
    close(fd);
    EXPECT_EQ(Output(), "{\"serviceId\":\"svc-1\",\"url\":\"http://h/a.bin|http://m/a.bin\",\"bytes\":1048576}\n"
                        "{\"serviceId\":\"svc-1\",\"url\":\"http://h/\\\"q\\\".bin\",\"bytes\":5}\n"
                        "{\"serviceId\":\"svc-1\",\"url\":\"http://h/c.bin\",\"bytes\":0}\n");
}

TEST_F(AgentServer, ReportSplitIntoSingleBytesIsReassembled)
{
    int fd = Connect();
    Bytes report = Report({{"id", "http://h/x", 42}});
    for (unsigned char byte : report) SendBytes(fd, Bytes{byte});
    EXPECT_EQ(Receive(fd, 16), kReply);
    close(fd);
    EXPECT_EQ(Output(), "{\"serviceId\":\"id\",\"url\":\"http://h/x\",\"bytes\":42}\n");
}

TEST_F(AgentServer, MalformedFramesCloseOnlyThatConnection)
{
    struct Case {
        const char* name;
        Bytes frame;
    } cases[] = {
        {"other subtype", Frame(768, 131, Bytes{1})},
        {"other type", Frame(256, 154, Bytes(4, 0))},
        {"count beyond payload", Frame(768, 154, Bytes{2, 0, 0, 0})},
        {"negative count", Frame(768, 154, Bytes{0xFF, 0xFF, 0xFF, 0xFF})},
        {"payload too short", Frame(768, 154, Bytes{})},
        {"absurd length", Bytes{0x00, 0x03, 0x9A, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& c : cases) {
        int fd = Connect();
        SendBytes(fd, c.frame);
        EXPECT_TRUE(Receive(fd, 1).empty()) << c.name; // closed without a reply
        close(fd);
    }
    int fd = Connect();
    SendBytes(fd, Report({{"ok", "http://h/ok", 1}}));
    EXPECT_EQ(Receive(fd, 16), kReply);
    close(fd);
    EXPECT_EQ(Output(), "{\"serviceId\":\"ok\",\"url\":\"http://h/ok\",\"bytes\":1}\n");
}
