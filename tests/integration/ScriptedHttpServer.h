#pragma once
// A scripted HTTP peer on 127.0.0.1 for faults a real server will not
// produce on demand: the n-th connection gets the n-th answer, written as
// given, and is then closed (or kept open, for a stall). Requests are kept.

#include "LoopbackSockets.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedHttpServer {
public:
    struct Answer {
        std::string bytes;
        bool closeAfter = true;
    };

    explicit ScriptedHttpServer(std::vector<Answer> answers) : m_answers(std::move(answers))
    {
        m_listener = ListenOnLoopback(16, m_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedHttpServer()
    {
        m_stop = true;
        m_thread.join();
        close(m_listener);
        for (int fd : m_open) close(fd);
    }
    uint16_t Port() const { return m_port; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_requests;
    }

private:
    void Serve()
    {
        size_t next = 0;
        while (!m_stop) {
            const int fd = AcceptWithin(m_listener, 50);
            if (fd < 0) continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd r{fd, POLLIN, 0};
                if (poll(&r, 1, 5000) != 1) break;
                ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            {
                std::lock_guard<std::mutex> guard(m_mutex);
                m_requests.push_back(request);
            }
            const Answer answer = next < m_answers.size() ? m_answers[next] : Answer{"HTTP/1.1 500 Nothing scripted\r\n\r\n"};
            ++next;
            send(fd, answer.bytes.data(), answer.bytes.size(), MSG_NOSIGNAL);
            if (answer.closeAfter) close(fd);
            else m_open.push_back(fd);
        }
    }

    std::vector<Answer> m_answers;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<int> m_open;
    std::thread m_thread;
};
