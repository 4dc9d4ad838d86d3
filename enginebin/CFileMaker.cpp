#include "enginebin/CFileMaker.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

CFileMaker::CFileMaker()
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

CFileMaker::~CFileMaker()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_stopping = true;
    }
    m_wanted.notify_all();
    if (m_thread.joinable()) m_thread.join();
    for (const Result& result : m_results) {
        if (result.fd < 0) continue;
        close(result.fd);
        if (result.request.fresh) unlink(result.request.path.c_str());
    }
    if (m_wake >= 0) close(m_wake);
}

void CFileMaker::Submit(Request request)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_requests.push_back(std::move(request));
    }
    m_wanted.notify_one();
}

std::vector<CFileMaker::Result> CFileMaker::Take()
{
    uint64_t count = 0;
    while (read(m_wake, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<Result> taken;
    taken.swap(m_results);
    return taken;
}

int CFileMaker::MakePartFile(const std::string& path, int64_t size, bool fresh, int* error)
{
    // A link at the part's name is not followed: it could lead the download
    // into any file of ours.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (fresh ? O_TRUNC : 0), 0644);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (fresh && size > 0 && fallocate(fd, 0, 0, size) != 0 &&
        ((errno != EOPNOTSUPP && errno != ENOSYS) || ftruncate(fd, size) != 0)) {
        *error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

void CFileMaker::Work()
{
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> guard(m_mutex);
            m_wanted.wait(guard, [this] { return m_stopping || !m_requests.empty(); });
            if (m_stopping) return;
            request = std::move(m_requests.front());
            m_requests.pop_front();
        }
        Result result;
        result.fd = MakePartFile(request.path, request.size, request.fresh, &result.error);
        result.request = std::move(request);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_results.push_back(std::move(result));
        }
        const uint64_t one = 1;
        while (write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}
