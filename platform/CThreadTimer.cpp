#include "platform/CThreadTimer.h"

#include "platform/MessageLoop.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

CThreadTimer::CThreadTimer(UINT_PTR id, std::shared_ptr<CMessageQueue> queue)
    : m_id(id), m_queue(queue), m_ownerThread(queue ? queue->ThreadId() : 0)
{
}

CThreadTimer::~CThreadTimer()
{
    Detach();
    if (m_fd >= 0) close(m_fd);
}

bool CThreadTimer::OwnedByCurrentThread() const
{
    return m_ownerThread != 0 && m_ownerThread == GetCurrentThreadId();
}

bool CThreadTimer::Start(UINT elapseMs, TIMERPROC procedure)
{
    auto queue = m_queue.lock();
    if (!queue || !procedure) return false;
    if (m_fd < 0) {
        m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_fd < 0) return false;
    }
    if (elapseMs < 10) elapseMs = 10;
    itimerspec spec{};
    spec.it_interval.tv_sec = elapseMs / 1000;
    spec.it_interval.tv_nsec = static_cast<long>(elapseMs % 1000) * 1000000L;
    spec.it_value = spec.it_interval;
    m_procedure.store(procedure);
    if (timerfd_settime(m_fd, 0, &spec, nullptr) != 0) return false;
    if (!m_inPollSet) {
        if (!queue->AddPollSource(m_fd, EPOLLIN, this)) return false;
        m_inPollSet = true;
    }
    return true;
}

void CThreadTimer::Detach()
{
    if (m_fd >= 0) {
        itimerspec off{};
        timerfd_settime(m_fd, 0, &off, nullptr);
    }
    auto queue = m_queue.lock();
    if (!queue) return;
    if (m_inPollSet) queue->RemovePollSource(m_fd);
    m_inPollSet = false;
    const UINT_PTR id = m_id;
    queue->RemoveMessages([id](const MSG& msg) { return !msg.hwnd && msg.message == WM_TIMER && msg.wParam == id; });
}

void CThreadTimer::OnPollReady(uint32_t)
{
    uint64_t expirations;
    while (read(m_fd, &expirations, sizeof expirations) > 0) {
    }
    if (m_pending.exchange(true)) return;
    auto queue = m_queue.lock();
    if (!queue) return;
    queue->Post(MSG{nullptr, WM_TIMER, m_id, reinterpret_cast<LPARAM>(m_procedure.load())});
}
