#include "platform/CSocketWatch.h"

#include "platform/MessageLoop.h"
#include "platform/Sockets.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

namespace {
// Edge-triggered: the watch looks at the socket's state itself, so it only
// needs to hear that something changed.
constexpr uint32_t kPollEvents = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
} // namespace

CSocketWatch::CSocketWatch(SOCKET socket, State state) : m_socket(socket), m_state(state) {}

CSocketWatch::~CSocketWatch()
{
    Close();
}

bool CSocketWatch::Select(HWND window, UINT message, long mask)
{
    std::shared_ptr<CMessageQueue> target;
    if (mask != 0) {
        target = FindWindowMessageQueue(window);
        if (!target) return false;
    }
    std::shared_ptr<CMessageQueue> current;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_closed) return false;
        current = m_queue.lock();
        m_window = mask != 0 ? window : nullptr;
        m_message = message;
        m_mask = mask;
        m_queue = target;
    }
    // Poll sets are changed outside the watch lock: the owner thread holds
    // its source lock while it asks us to evaluate.
    if (current != target) {
        if (current) current->RemovePollSource(m_socket);
        if (target && !target->AddPollSource(m_socket, kPollEvents, this)) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_window = nullptr;
            m_mask = 0;
            m_queue.reset();
            return false;
        }
    }
    if (mask == 0) return true;
    std::lock_guard<std::mutex> guard(m_mutex);
    m_readEnabled = true;
    m_writeEnabled = m_state == State::Connected;
    m_acceptEnabled = true;
    EvaluateLocked();
    return true;
}

void CSocketWatch::Close()
{
    std::shared_ptr<CMessageQueue> queue;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_closed = true;
        m_mask = 0;
        m_window = nullptr;
        queue = m_queue.lock();
        m_queue.reset();
    }
    if (queue) queue->RemovePollSource(m_socket);
}

void CSocketWatch::OnConnectStarted()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_state = State::Connecting;
    EvaluateLocked();
}

void CSocketWatch::OnConnectFailedAtOnce(int error)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_state = State::ConnectFailed;
    m_connectError = error;
    EvaluateLocked();
}

void CSocketWatch::OnConnectedAtOnce()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    // The caller learns of the connection from the call itself; sends are
    // possible until one answers would-block.
    m_state = State::Connected;
    m_writeEnabled = false;
}

void CSocketWatch::OnListening()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_state = State::Listening;
    m_acceptEnabled = true;
    EvaluateLocked();
}

void CSocketWatch::OnReceiveCalled(bool orderlyClose, bool filledBuffer)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (orderlyClose) m_peerClosed = true;
    m_readEnabled = true;
    // A full read most likely left more behind: report it without looking
    // at the socket. If nothing was left, the reader's next receive finds
    // nothing and the full look below follows, so no close or error is lost.
    if (filledBuffer && !m_closed && m_window && m_state == State::Connected && (m_mask & FD_READ)) {
        m_readEnabled = false;
        PostLocked(FD_READ, 0);
        return;
    }
    EvaluateLocked();
}

void CSocketWatch::OnSendBlocked()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_writeEnabled = true;
    EvaluateLocked();
}

void CSocketWatch::OnAcceptCalled()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_acceptEnabled = true;
    EvaluateLocked();
}

void CSocketWatch::OnPollReady(uint32_t)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    EvaluateLocked();
}

int CSocketWatch::TakeSocketError() const
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return SockErrorFromErrno(errno, false);
    return error == 0 ? 0 : SockErrorFromErrno(error, false);
}

void CSocketWatch::PostLocked(long code, int error)
{
    if (m_mask & code)
        PostMessage(m_window, m_message, static_cast<WPARAM>(m_socket), MakeSelectReply(code, error));
}

void CSocketWatch::EvaluateLocked()
{
    if (m_closed || m_mask == 0 || !m_window) return;
    switch (m_state) {
    case State::Listening: {
        pollfd p{m_socket, POLLIN, 0};
        if (m_acceptEnabled && poll(&p, 1, 0) == 1 && (p.revents & POLLIN) && (m_mask & FD_ACCEPT)) {
            m_acceptEnabled = false;
            PostLocked(FD_ACCEPT, 0);
        }
        return;
    }
    case State::ConnectFailed:
        m_state = State::Failed;
        PostLocked(FD_CONNECT, m_connectError);
        return;
    case State::Connecting: {
        pollfd p{m_socket, POLLOUT, 0};
        if (poll(&p, 1, 0) != 1 || !(p.revents & (POLLOUT | POLLERR | POLLHUP))) return;
        int error = TakeSocketError();
        if (error != 0) {
            m_state = State::Failed;
            PostLocked(FD_CONNECT, error);
            return;
        }
        m_state = State::Connected;
        m_writeEnabled = true;
        PostLocked(FD_CONNECT, 0);
        EvaluateConnectedLocked();
        return;
    }
    case State::Connected:
        EvaluateConnectedLocked();
        return;
    case State::Idle:
    case State::Failed:
        return;
    }
}

void CSocketWatch::EvaluateConnectedLocked()
{
    pollfd p{m_socket, POLLIN | POLLOUT | POLLRDHUP, 0};
    if (poll(&p, 1, 0) < 0) return;
    int unread = 0;
    if (ioctl(m_socket, FIONREAD, &unread) != 0) unread = 0;

    if (m_readEnabled && unread > 0 && (m_mask & FD_READ)) {
        m_readEnabled = false;
        PostLocked(FD_READ, 0);
    }
    if (m_closeReported) return;
    const bool reset = (p.revents & POLLERR) != 0;
    const bool peerGone = m_peerClosed || (p.revents & (POLLRDHUP | POLLHUP)) != 0;
    // An orderly close waits until every byte has been received, so that a
    // reader who acts on the close loses nothing the peer sent.
    if (reset || (peerGone && unread == 0)) {
        m_closeReported = true;
        PostLocked(FD_CLOSE, reset ? TakeSocketError() : 0);
        return;
    }
    if (m_writeEnabled && (p.revents & POLLOUT) && (m_mask & FD_WRITE)) {
        m_writeEnabled = false;
        PostLocked(FD_WRITE, 0);
    }
}
