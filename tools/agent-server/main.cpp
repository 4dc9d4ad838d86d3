// zdr-agent-server: the agent server's side of the transfer reports.
//
// Listens on TCP, reads framed report messages (type 768, subtype 154: an
// int32 entry count, then 298-byte entries: char[33] service identifier,
// char[256] URL entry, int64 bytes received, byte 1), appends one JSON line
// per entry to the output, and answers every report with a reply frame
// (type 768, subtype 131, one payload byte). Any other or malformed frame
// closes that connection. Single-threaded: one poll loop for all clients.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kFrameType = 768;
constexpr uint16_t kReportSubtype = 154;
constexpr uint16_t kReplySubtype = 131;
constexpr size_t kHeaderSize = 14;
constexpr size_t kEntrySize = 298;
// A report names the files of one job; anything near this is not a report.
constexpr uint32_t kMaxPayload = 16u * 1024 * 1024;

volatile sig_atomic_t g_stop = 0;

struct Options {
    std::string bind = "127.0.0.1";
    int port = 54547;
    std::string output;
    int reply = 1;
};

struct Client {
    int fd;
    std::vector<unsigned char> input;
};

uint32_t ReadU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t ReadU16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

std::string JsonString(const char* bytes, size_t capacity)
{
    size_t length = strnlen(bytes, capacity);
    std::string out = "\"";
    for (size_t i = 0; i < length; ++i) {
        unsigned char ch = static_cast<unsigned char>(bytes[i]);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", ch);
            out += escape;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

std::vector<unsigned char> ReplyFrame(int value)
{
    // 14-byte header + 1 payload byte, padded to 16; the length counts the padding.
    std::vector<unsigned char> frame(16, 0);
    frame[0] = kFrameType & 0xFF;
    frame[1] = kFrameType >> 8;
    frame[2] = kReplySubtype;
    frame[10] = 2;
    frame[14] = static_cast<unsigned char>(value);
    return frame;
}

bool SendAll(int fd, const std::vector<unsigned char>& data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 5000) <= 0) return false;
            continue;
        }
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Consumes every whole frame of the client's input. False: close the client.
bool HandleFrames(Client& client, FILE* out, int replyValue)
{
    size_t offset = 0;
    while (client.input.size() - offset >= kHeaderSize) {
        const unsigned char* header = client.input.data() + offset;
        uint16_t type = ReadU16(header);
        uint16_t subtype = ReadU16(header + 2);
        uint32_t length = ReadU32(header + 10);
        if (type != kFrameType || subtype != kReportSubtype || length > kMaxPayload) return false;
        if (client.input.size() - offset - kHeaderSize < length) break;
        const unsigned char* payload = header + kHeaderSize;
        if (length < 4) return false;
        int32_t count = static_cast<int32_t>(ReadU32(payload));
        if (count < 0 || 4 + uint64_t(count) * kEntrySize > length) return false;
        for (int32_t i = 0; i < count; ++i) {
            const unsigned char* entry = payload + 4 + size_t(i) * kEntrySize;
            int64_t bytes;
            memcpy(&bytes, entry + 289, sizeof bytes);
            fprintf(out, "{\"serviceId\":%s,\"url\":%s,\"bytes\":%lld}\n",
                    JsonString(reinterpret_cast<const char*>(entry), 33).c_str(),
                    JsonString(reinterpret_cast<const char*>(entry + 33), 256).c_str(), static_cast<long long>(bytes));
        }
        fflush(out);
        if (!SendAll(client.fd, ReplyFrame(replyValue))) return false;
        offset += kHeaderSize + length;
    }
    client.input.erase(client.input.begin(), client.input.begin() + static_cast<long>(offset));
    return true;
}

bool ParseOptions(int argc, char** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "zdr-agent-server: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--port") {
            const char* v = value("--port");
            if (!v) return false;
            char* end = nullptr;
            long port = strtol(v, &end, 10);
            if (*end || port < 0 || port > 65535) {
                fprintf(stderr, "zdr-agent-server: bad port '%s'\n", v);
                return false;
            }
            options->port = static_cast<int>(port);
        } else if (arg == "--bind") {
            const char* v = value("--bind");
            if (!v) return false;
            options->bind = v;
        } else if (arg == "--output") {
            const char* v = value("--output");
            if (!v) return false;
            options->output = v;
        } else if (arg == "--reply") {
            const char* v = value("--reply");
            if (!v) return false;
            options->reply = atoi(v) & 0xFF;
        } else {
            fprintf(stderr,
                    "usage: zdr-agent-server [--bind ADDR] [--port N] [--output FILE] [--reply BYTE]\n"
                    "  Accepts transfer reports (default 127.0.0.1:54547; --port 0 picks a free port),\n"
                    "  appends one JSON line per report entry to FILE (default: standard output)\n"
                    "  and answers each report with a reply frame holding BYTE (default 1).\n"
                    "  The first line on standard error names the address it listens on.\n");
            return false;
        }
    }
    return true;
}

void OnSignal(int)
{
    g_stop = 1;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) return 2;
    FILE* out = stdout;
    if (!options.output.empty()) {
        out = fopen(options.output.c_str(), "a");
        if (!out) {
            fprintf(stderr, "zdr-agent-server: cannot open %s: %s\n", options.output.c_str(), strerror(errno));
            return 1;
        }
    }
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    if (inet_pton(AF_INET, options.bind.c_str(), &address.sin_addr) != 1) {
        fprintf(stderr, "zdr-agent-server: bad address '%s'\n", options.bind.c_str());
        return 2;
    }
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 16) != 0) {
        fprintf(stderr, "zdr-agent-server: cannot listen on %s:%d: %s\n", options.bind.c_str(), options.port,
                strerror(errno));
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    fprintf(stderr, "listening on %s:%u\n", options.bind.c_str(), ntohs(address.sin_port));
    fflush(stderr);

    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::vector<Client> clients;
    while (!g_stop) {
        std::vector<pollfd> fds;
        fds.push_back({listener, POLLIN, 0});
        for (const Client& client : clients) fds.push_back({client.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 1000) < 0) continue;
        if (fds[0].revents & POLLIN) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients.push_back({fd, {}});
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents) continue;
            Client& client = clients[i - 1];
            unsigned char buffer[65536];
            ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
            bool keep = n > 0;
            if (keep) {
                client.input.insert(client.input.end(), buffer, buffer + n);
                keep = HandleFrames(client, out, options.reply);
            }
            if (!keep) {
                close(client.fd);
                client.fd = -1;
            }
        }
        std::erase_if(clients, [](const Client& client) { return client.fd < 0; });
    }
    for (const Client& client : clients) close(client.fd);
    close(listener);
    if (out != stdout) fclose(out);
    return 0;
}
