#pragma once
// An HTTP peer on 127.0.0.1 for the faults of the fault matrix that neither
// nginx nor FaultHttpServer make: a connection reset (RST, through
// SO_LINGER 0) at accept or after part of an answer, and a connection that
// goes silent in the middle of an answer and stays open. Every connection
// gets a thread; a handler decides the answer from the request and its
// number (0 for the first request). Requests are kept.

#include "FaultHttpServer.h"
#include "LoopbackSockets.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FaultPeer {
public:
    struct Answer {
        std::string bytes;
        // Send only this many bytes of the answer (npos: all of them).
        size_t cutAfter = std::string::npos;
        // Then keep the connection open and silent this long (bounded by the
        // peer's end), before it ends.
        int stallMs = 0;
        // End with a reset instead of an orderly close.
        bool reset = false;
        // With trickleMs, the head goes at once and the rest trickleBytes at
        // a time, trickleMs apart: a server too slow to be worth waiting for.
        int trickleMs = 0;
        size_t trickleBytes = 1;
    };
    typedef std::function<Answer(const std::string& request, int index)> Handler;

    // resetAtAccept: every connection is reset as soon as it is accepted,
    // before a byte is read; the handler is not asked.
    explicit FaultPeer(Handler handler, bool resetAtAccept = false)
        : m_handler(std::move(handler)), m_resetAtAccept(resetAtAccept)
    {
        m_listener = ListenOnLoopback(64, m_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FaultPeer()
    {
        m_stop = true;
        m_thread.join();
        for (auto& worker : m_workers) worker.join();
        close(m_listener);
    }
    uint16_t Port() const { return m_port; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_requests;
    }
    int Accepted() const { return m_accepted; }
    static std::string Header(const std::string& request, const std::string& name)
    {
        return FaultHttpServer::Header(request, name);
    }

private:
    void Serve()
    {
        while (!m_stop) {
            const int fd = AcceptWithin(m_listener, 50);
            if (fd < 0) continue;
            ++m_accepted;
            if (m_resetAtAccept) {
                ResetConnection(fd);
                continue;
            }
            m_workers.emplace_back([this, fd] { Answer1(fd); });
        }
    }
    void Answer1(int fd)
    {
        const std::string request = ReadRequestHead(fd, m_stop);
        int index = 0;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            index = static_cast<int>(m_requests.size());
            m_requests.push_back(request);
        }
        const Answer answer = m_handler(request, index);
        if (answer.trickleMs > 0) Trickle(fd, answer);
        else SendAnswer(fd, answer.bytes, answer.cutAfter, 0, m_stop);
        // Silent, but still there: the client's idle limit has to end it.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer.stallMs);
        char buffer[4096];
        while (!m_stop && std::chrono::steady_clock::now() < until) {
            pollfd r{fd, POLLIN, 0};
            if (poll(&r, 1, 50) == 1 && recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) == 0) break;
        }
        if (answer.reset) ResetConnection(fd);
        else close(fd);
    }

    void Trickle(int fd, const Answer& answer)
    {
        const size_t total = std::min(answer.cutAfter, answer.bytes.size());
        const size_t end = answer.bytes.find("\r\n\r\n");
        const size_t head = end == std::string::npos ? total : std::min(end + 4, total);
        SendAnswer(fd, answer.bytes, head, 0, m_stop);
        for (size_t sent = head; sent < total && !m_stop;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(answer.trickleMs));
            const size_t n = std::min(answer.trickleBytes, total - sent);
            if (send(fd, answer.bytes.data() + sent, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) return;
            sent += n;
        }
    }

    Handler m_handler;
    bool m_resetAtAccept;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
    std::vector<std::thread> m_workers;
};
