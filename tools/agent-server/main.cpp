// zdr-agent-server: the agent server's side of the transfer reports.
//
// Listens on TCP, reads framed report messages (type 768, subtype 154: an
// int32 entry count, then 298-byte entries: char[33] service identifier,
// char[256] URL entry, int64 bytes received, byte 1), appends one JSON line
// per entry to the output, and answers every report with a reply frame
// (type 768, subtype 131, one payload byte). Any other or malformed frame
// closes that connection. Single-threaded: one poll loop for all clients.
//
// Bounded against clients that misbehave: at most --max-clients connections
// (further ones wait in the backlog), a frame of at most kMaxPayload bytes,
// at most kMaxBuffered bytes held for all clients together, an idle timeout
// (--idle-timeout seconds without a byte either way), no reading from a
// client that leaves kMaxPendingReply bytes of replies unread, and a pause
// before accepting again when accept fails (out of descriptors). Every output
// line is valid JSON: bytes that are not UTF-8 are escaped.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kFrameType = 768;
constexpr uint16_t kReportSubtype = 154;
constexpr uint16_t kReplySubtype = 131;
constexpr size_t kHeaderSize = 14;
constexpr size_t kEntrySize = 298;
// A report names the files of one job: a few thousand entries at most.
constexpr uint32_t kMaxPayload = 1024u * 1024;
constexpr size_t kMaxBuffered = 32u * 1024 * 1024;
constexpr size_t kMaxPendingReply = 64u * 1024;
constexpr int kAcceptPauseMs = 200;

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_stop = 0;

struct Options {
    std::string bind = "127.0.0.1";
    int port = 54547;
    std::string output;
    int reply = 1;
    int maxClients = 256;
    int idleSeconds = 60;
};

struct Client {
    int fd;
    std::vector<unsigned char> input;
    std::vector<unsigned char> output; // replies not yet taken by the client
    Clock::time_point lastActivity;
};

uint32_t ReadU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t ReadU16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The length of the UTF-8 sequence at p (at most available bytes), 0 when
// it is not one: overlong forms, surrogates and code points past U+10FFFF
// included.
size_t Utf8Sequence(const unsigned char* p, size_t available)
{
    const unsigned char lead = p[0];
    size_t length;
    uint32_t point;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
    } else {
        return 0;
    }
    if (available < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        point = point << 6 | (p[i] & 0x3F);
    }
    if ((length == 3 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
        (length == 4 && (point < 0x10000 || point > 0x10FFFF)))
        return 0;
    return length;
}

std::string JsonString(const char* bytes, size_t capacity)
{
    const size_t length = strnlen(bytes, capacity);
    const auto* text = reinterpret_cast<const unsigned char*>(bytes);
    std::string out = "\"";
    for (size_t i = 0; i < length; ++i) {
        const unsigned char ch = text[i];
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch >= 0x20 && ch < 0x7F) {
            out += static_cast<char>(ch);
        } else if (size_t sequence = ch >= 0x80 ? Utf8Sequence(text + i, length - i) : 0) {
            out.append(bytes + i, sequence);
            i += sequence - 1;
        } else {
            // A control byte, or a byte that is no UTF-8: shown as its value.
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", ch);
            out += escape;
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

// Sends what the client has not taken yet, without waiting. False: the
// connection failed.
bool SendPending(Client& client)
{
    while (!client.output.empty()) {
        const ssize_t n = send(client.fd, client.output.data(), client.output.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false;
        client.output.erase(client.output.begin(), client.output.begin() + n);
        client.lastActivity = Clock::now();
    }
    return true;
}

// Consumes every whole frame of the client's input. False: close the client.
// Reports recorded before a malformed frame are answered all the same: how
// the client's bytes were cut into reads must not decide whether a recorded
// report gets its reply.
bool HandleFrames(Client& client, FILE* out, int replyValue)
{
    size_t offset = 0;
    bool intact = true;
    while (intact && client.input.size() - offset >= kHeaderSize) {
        const unsigned char* header = client.input.data() + offset;
        uint16_t type = ReadU16(header);
        uint16_t subtype = ReadU16(header + 2);
        uint32_t length = ReadU32(header + 10);
        if (type != kFrameType || subtype != kReportSubtype || length > kMaxPayload) {
            intact = false;
            break;
        }
        if (client.input.size() - offset - kHeaderSize < length) break;
        const unsigned char* payload = header + kHeaderSize;
        int32_t count = length < 4 ? -1 : static_cast<int32_t>(ReadU32(payload));
        if (count < 0 || 4 + uint64_t(count) * kEntrySize > length) {
            intact = false;
            break;
        }
        for (int32_t i = 0; i < count; ++i) {
            const unsigned char* entry = payload + 4 + size_t(i) * kEntrySize;
            int64_t bytes;
            memcpy(&bytes, entry + 289, sizeof bytes);
            fprintf(out, "{\"serviceId\":%s,\"url\":%s,\"bytes\":%lld}\n",
                    JsonString(reinterpret_cast<const char*>(entry), 33).c_str(),
                    JsonString(reinterpret_cast<const char*>(entry + 33), 256).c_str(), static_cast<long long>(bytes));
        }
        fflush(out);
        const std::vector<unsigned char> reply = ReplyFrame(replyValue);
        client.output.insert(client.output.end(), reply.begin(), reply.end());
        offset += kHeaderSize + length;
    }
    client.input.erase(client.input.begin(), client.input.begin() + static_cast<long>(offset));
    return SendPending(client) && intact;
}

bool ParseCount(const char* text, long low, long high, long* value)
{
    char* end = nullptr;
    errno = 0;
    const long parsed = strtol(text, &end, 10);
    if (errno || !*text || *end || parsed < low || parsed > high) return false;
    *value = parsed;
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
        } else if (arg == "--max-clients" || arg == "--idle-timeout") {
            const char* v = value(arg.c_str());
            long number = 0;
            if (!v || !ParseCount(v, 1, 100000, &number)) {
                if (v) fprintf(stderr, "zdr-agent-server: bad %s '%s'\n", arg.c_str(), v);
                return false;
            }
            (arg == "--max-clients" ? options->maxClients : options->idleSeconds) = static_cast<int>(number);
        } else if (arg == "--reply") {
            const char* v = value("--reply");
            if (!v) return false;
            options->reply = atoi(v) & 0xFF;
        } else {
            fprintf(stderr,
                    "usage: zdr-agent-server [--bind ADDR] [--port N] [--output FILE] [--reply BYTE]\n"
                    "                        [--max-clients N] [--idle-timeout SECONDS]\n"
                    "  Accepts transfer reports (default 127.0.0.1:54547; --port 0 picks a free port),\n"
                    "  appends one JSON line per report entry to FILE (default: standard output)\n"
                    "  and answers each report with a reply frame holding BYTE (default 1).\n"
                    "  At most N clients at once (default 256); a client silent for SECONDS\n"
                    "  (default 60) is closed.\n"
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
    Clock::time_point acceptAgain = Clock::now();
    const auto idleLimit = std::chrono::seconds(options.idleSeconds);
    while (!g_stop) {
        const Clock::time_point now = Clock::now();
        // Full, or just out of descriptors: new connections wait in the
        // backlog instead of waking this loop over and over.
        const bool accepting = clients.size() < static_cast<size_t>(options.maxClients) && now >= acceptAgain;
        size_t buffered = 0;
        for (const Client& client : clients) buffered += client.input.size();
        std::vector<pollfd> fds;
        fds.push_back({accepting ? listener : -1, POLLIN, 0});
        for (const Client& client : clients) {
            // A client that does not take its replies is not read from.
            short events = client.output.size() < kMaxPendingReply ? POLLIN : 0;
            if (!client.output.empty()) events |= POLLOUT;
            fds.push_back({client.fd, events, 0});
        }
        const int timeout = accepting ? 1000 : kAcceptPauseMs;
        if (poll(fds.data(), fds.size(), timeout) < 0) continue;
        if (fds[0].revents & POLLIN) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) clients.push_back({fd, {}, {}, Clock::now()});
            else if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED)
                acceptAgain = Clock::now() + std::chrono::milliseconds(kAcceptPauseMs);
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            Client& client = clients[i - 1];
            bool keep = true;
            if (fds[i].revents & POLLOUT) keep = SendPending(client);
            if (keep && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                unsigned char buffer[65536];
                const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
                keep = n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
                if (n > 0) {
                    client.lastActivity = Clock::now();
                    client.input.insert(client.input.end(), buffer, buffer + n);
                    buffered += static_cast<size_t>(n);
                    // Whoever pushes the total past the bound is cut off.
                    keep = buffered <= kMaxBuffered && HandleFrames(client, out, options.reply);
                }
            }
            if (keep && Clock::now() - client.lastActivity > idleLimit) keep = false;
            if (!keep) {
                buffered -= std::min(buffered, client.input.size());
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
