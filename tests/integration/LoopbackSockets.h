#pragma once
// Socket steps the scripted peers on 127.0.0.1 share: the listener, the
// head of a request, writing an answer, and a hard reset.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

// A socket bound to 127.0.0.1 at a port the kernel picks; sets port.
inline int BindOnLoopback(uint16_t& port)
{
    const int socketFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return socketFd;
}

// A listening socket on 127.0.0.1 at a port the kernel picks; sets port.
inline int ListenOnLoopback(int backlog, uint16_t& port)
{
    const int listener = BindOnLoopback(port);
    listen(listener, backlog);
    return listener;
}

// A port on 127.0.0.1 that refuses every connection for the rest of the
// process: bound but never listening, so no other listener (of this test or
// of one running beside it) can be given it, as could happen to a port that
// was merely free a moment ago.
inline uint16_t RefusedPort()
{
    static const uint16_t port = [] {
        uint16_t bound = 0;
        BindOnLoopback(bound); // held, never listening, for the process's life
        return bound;
    }();
    return port;
}

// The next connection on listener, or -1 when none came within ms.
inline int AcceptWithin(int listener, int ms)
{
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return -1;
    return accept(listener, nullptr, nullptr);
}

// Reads up to the blank line that ends a request head; stops early when the
// client closes or stop is set, with what came so far.
inline std::string ReadRequestHead(int fd, const std::atomic<bool>& stop)
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && !stop) {
        pollfd r{fd, POLLIN, 0};
        if (poll(&r, 1, 100) != 1) continue;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
    }
    return request;
}

// Sends the first total bytes of bytes; with pauseMs, in 64 KiB pieces with
// that pause after each, so a transfer can be caught in the middle. Stops
// early when the client is gone or stop is set.
inline void SendAnswer(int fd, const std::string& bytes, size_t total, int pauseMs, const std::atomic<bool>& stop)
{
    total = std::min(total, bytes.size());
    size_t sent = 0;
    while (sent < total && !stop) {
        const size_t chunk = std::min<size_t>(total - sent, pauseMs ? 65536 : total);
        const ssize_t n = send(fd, bytes.data() + sent, chunk, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
        if (pauseMs) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

// Closes with a reset (RST, through SO_LINGER 0) instead of an orderly close.
inline void ResetConnection(int fd)
{
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
}
