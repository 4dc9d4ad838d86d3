// The agent server's report parsing (tools/agent-server): any stream of
// bytes from a client, in pieces, through the server's own frame handling.
// The server is one file with its parser inside; it is compiled in here with
// its main renamed, so the fuzzed code is the program's code.
//
// Promises checked: every output line is one JSON object of the documented
// shape with valid JSON strings (valid UTF-8, no raw control byte); the
// stream fed whole and fed in pieces gives the same lines and the same
// decision to keep or close the client; each report is answered with one
// 16-byte reply frame.
//
// Input: byte 0 seeds the piece lengths, the rest is the client's stream.

#include "FuzzCheck.h"
#include "FuzzChunks.h"

#define main zdr_agent_server_main
#include "tools/agent-server/main.cpp"
#undef main

#include <cstdio>
#include <string>

namespace {

// A JSON string starting at text[at] ('"'); answers the index after it, or
// npos when it is not one.
size_t SkipJsonString(const std::string& text, size_t at)
{
    if (at >= text.size() || text[at] != '"') return std::string::npos;
    for (size_t i = at + 1; i < text.size();) {
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        if (ch == '"') return i + 1;
        if (ch < 0x20) return std::string::npos;
        if (ch == '\\') {
            if (i + 1 >= text.size()) return std::string::npos;
            const char escape = text[i + 1];
            if (escape == 'u') {
                if (i + 6 > text.size()) return std::string::npos;
                for (size_t k = i + 2; k < i + 6; ++k)
                    if (!isxdigit(static_cast<unsigned char>(text[k]))) return std::string::npos;
                i += 6;
            } else if (escape == '"' || escape == '\\' || escape == '/' || escape == 'b' || escape == 'f' ||
                       escape == 'n' || escape == 'r' || escape == 't') {
                i += 2;
            } else {
                return std::string::npos;
            }
            continue;
        }
        if (ch < 0x80) {
            ++i;
            continue;
        }
        const size_t sequence = Utf8Sequence(reinterpret_cast<const unsigned char*>(text.data()) + i, text.size() - i);
        if (sequence == 0) return std::string::npos;
        i += sequence;
    }
    return std::string::npos;
}

bool IsReportLine(const std::string& line)
{
    const std::string opening = "{\"serviceId\":";
    if (line.compare(0, opening.size(), opening) != 0) return false;
    size_t at = SkipJsonString(line, opening.size());
    const std::string url = ",\"url\":";
    if (at == std::string::npos || line.compare(at, url.size(), url) != 0) return false;
    at = SkipJsonString(line, at + url.size());
    const std::string bytes = ",\"bytes\":";
    if (at == std::string::npos || line.compare(at, bytes.size(), bytes) != 0) return false;
    at += bytes.size();
    if (at < line.size() && line[at] == '-') ++at;
    const size_t digits = at;
    while (at < line.size() && isdigit(static_cast<unsigned char>(line[at]))) ++at;
    return at > digits && line.substr(at) == "}";
}

struct Outcome {
    std::string lines;
    std::string replies;
    bool kept = true;
};

int g_peer = -1;
int g_server = -1;

std::string Drain()
{
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(g_peer, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

template <typename Pieces>
Outcome Serve(const Pieces& pieces)
{
    Outcome outcome;
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    FUZZ_CHECK(out != nullptr);
    Client client{g_server, {}, {}, Clock::now()};
    for (const std::string& piece : pieces) {
        client.input.insert(client.input.end(), piece.begin(), piece.end());
        outcome.replies += Drain();
        if (!HandleFrames(client, out, 1)) {
            outcome.kept = false;
            break;
        }
    }
    outcome.replies += Drain();
    fclose(out);
    outcome.lines.assign(text, length);
    free(text);
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    int pair[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
    g_server = pair[0];
    g_peer = pair[1];
    const int size = 4 * 1024 * 1024;
    setsockopt(g_server, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(g_peer, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    fcntl(g_server, F_SETFL, O_NONBLOCK);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Chunked input = fuzz::CutIntoPieces(data, size);
    const Outcome whole = Serve(std::vector<std::string>{input.stream});
    const Outcome pieces = Serve(input.pieces);
    FUZZ_CHECK(whole.lines == pieces.lines);
    FUZZ_CHECK(whole.kept == pieces.kept || input.stream.empty());
    FUZZ_CHECK(whole.replies == pieces.replies);
    FUZZ_CHECK(whole.replies.size() % 16 == 0);
    size_t start = 0;
    while (start < whole.lines.size()) {
        const size_t end = whole.lines.find('\n', start);
        FUZZ_CHECK(end != std::string::npos);
        FUZZ_CHECK(IsReportLine(whole.lines.substr(start, end - start)));
        start = end + 1;
    }
    return 0;
}
