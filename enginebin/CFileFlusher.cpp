#include "enginebin/CFileFlusher.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

CFileFlusher::CFileFlusher()
{
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0) return;
    try {
        m_thread = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        close(m_wake);
        m_wake = -1;
    }
}

CFileFlusher::~CFileFlusher()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stopping = true;
    }
    m_wanted.notify_all();
    if (m_thread.joinable()) m_thread.join();
    for (const Request& request : m_requests) close(request.fd);
    if (m_wake >= 0) close(m_wake);
}

void CFileFlusher::Submit(uint64_t id, int fd)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_requests.push_back(Request{id, fd});
    }
    m_wanted.notify_one();
}

std::vector<CFileFlusher::Result> CFileFlusher::Take()
{
    uint64_t count = 0;
    while (read(m_wake, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<Result> taken;
    taken.swap(m_results);
    return taken;
}

void CFileFlusher::Work()
{
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> guard(m_mutex);
            m_wanted.wait(guard, [this] { return m_stopping || !m_requests.empty(); });
            if (m_stopping) return;
            request = m_requests.front();
            m_requests.pop_front();
        }
        Result result{request.id, 0};
        while (fdatasync(request.fd) != 0) {
            if (errno == EINTR) continue;
            result.error = errno;
            break;
        }
        close(request.fd);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_results.push_back(result);
        }
        const uint64_t one = 1;
        while (write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}
