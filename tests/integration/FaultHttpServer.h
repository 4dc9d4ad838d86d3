#pragma once
// An HTTP peer on 127.0.0.1 for faults a real server will not make on
// demand, for clients that open several connections at once: every
// connection gets a thread, and a handler decides the answer from the
// request and its number (0 for the first request). Each answer is written
// in one go, or cut after a number of bytes, or trickled; the connection is
// closed after it (or reset, or held open without a further byte: a stall).
// Connections can also be reset right at accept, before their request is
// read, and the listener can stop after some connections (later connects
// are refused). Requests are kept with the time they arrived.

#include "LoopbackSockets.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FaultHttpServer {
public:
    struct Answer {
        std::string bytes;
        // Close after this many bytes of the answer (npos: all of them).
        size_t cutAfter = std::string::npos;
        // Pause after every 64 KiB, so a transfer can be caught in the middle.
        int trickleMs = 0;
        // End with a reset (RST through SO_LINGER 0) instead of a close.
        bool reset = false;
        // Hold the connection open after what was sent, until the client
        // closes it or the server stops (at most a minute).
        bool stall = false;
    };
    struct Request {
        std::string text;
        double at; // seconds on the steady clock
    };
    typedef std::function<Answer(const std::string& request, int index)> Handler;

    explicit FaultHttpServer(Handler handler) : m_handler(std::move(handler))
    {
        m_listener = ListenOnLoopback(64, m_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FaultHttpServer()
    {
        m_stop = true;
        m_thread.join();
        for (auto& worker : m_workers) worker.join();
        if (m_listener >= 0) close(m_listener);
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    uint16_t Port() const { return m_port; }
    // Connections number first .. first + count - 1 (counted from 0 in the
    // order accepted) are reset as soon as they are accepted.
    void ResetAtAccept(int first, int count)
    {
        m_resetFirst = first;
        m_resetCount = count;
    }
    // After this many connections the listener closes: later connects are
    // refused.
    void StopListeningAfter(int connections) { m_listenFor = connections; }
    std::vector<Request> Requests()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_requests;
    }
    static double Now()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    // The value of a request header, or "" (name matched without case).
    static std::string Header(const std::string& request, const std::string& name)
    {
        size_t at = 0;
        while ((at = request.find("\r\n", at)) != std::string::npos) {
            at += 2;
            if (strncasecmp(request.c_str() + at, (name + ":").c_str(), name.size() + 1) == 0) {
                size_t start = at + name.size() + 1;
                while (start < request.size() && request[start] == ' ') ++start;
                return request.substr(start, request.find("\r\n", start) - start);
            }
        }
        return "";
    }

    // Closes with a reset (RST) instead of an orderly close.
    static void Reset(int fd) { ResetConnection(fd); }

private:
    void Serve()
    {
        int accepted = 0;
        while (!m_stop) {
            if (m_listener < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            const int fd = AcceptWithin(m_listener, 50);
            if (fd < 0) continue;
            const int number = accepted++;
            if (m_listenFor >= 0 && accepted >= m_listenFor) {
                close(m_listener);
                m_listener = -1;
            }
            if (number >= m_resetFirst && number < m_resetFirst + m_resetCount) {
                Reset(fd);
                continue;
            }
            m_workers.emplace_back([this, fd] { Answer1(fd); });
        }
    }
    // Waits until the client closes, the server stops, or a minute passed.
    void Hold(int fd)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        char buffer[4096];
        while (!m_stop && std::chrono::steady_clock::now() < until) {
            pollfd r{fd, POLLIN, 0};
            if (poll(&r, 1, 100) != 1) continue;
            if (recv(fd, buffer, sizeof buffer, 0) <= 0) return;
        }
    }
    void Answer1(int fd)
    {
        const std::string request = ReadRequestHead(fd, m_stop);
        int index = 0;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            index = static_cast<int>(m_requests.size());
            m_requests.push_back({request, Now()});
        }
        const Answer answer = m_handler(request, index);
        SendAnswer(fd, answer.bytes, answer.cutAfter, answer.trickleMs, m_stop);
        if (answer.stall) Hold(fd);
        if (answer.reset) Reset(fd);
        else close(fd);
    }

    Handler m_handler;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_resetFirst{0};
    std::atomic<int> m_resetCount{0};
    std::atomic<int> m_listenFor{-1};
    std::mutex m_mutex;
    std::vector<Request> m_requests;
    std::thread m_thread;
    std::vector<std::thread> m_workers;
};
