#include "platform/MessageQueue.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>

namespace {

std::atomic<DWORD> g_nextThreadId{1};
std::mutex g_registryMutex;
std::map<DWORD, std::shared_ptr<CMessageQueue>>& Registry()
{
    static auto* registry = new std::map<DWORD, std::shared_ptr<CMessageQueue>>();
    return *registry;
}

struct ThreadQueueHolder {
    std::shared_ptr<CMessageQueue> queue;
    ~ThreadQueueHolder()
    {
        if (!queue) return;
        std::lock_guard<std::mutex> guard(g_registryMutex);
        Registry().erase(queue->ThreadId());
    }
};
thread_local ThreadQueueHolder t_holder;
thread_local DWORD t_threadId = 0;

void Register(const std::shared_ptr<CMessageQueue>& queue)
{
    std::lock_guard<std::mutex> guard(g_registryMutex);
    Registry()[queue->ThreadId()] = queue;
}

} // namespace

DWORD CurrentThreadIdImpl()
{
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
    return t_threadId;
}

CMessageQueue::CMessageQueue()
{
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll >= 0 && m_wake >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = m_wake;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev) != 0) {
            close(m_wake);
            m_wake = -1;
        }
    }
}

CMessageQueue::~CMessageQueue()
{
    if (m_wake >= 0) close(m_wake);
    if (m_epoll >= 0) close(m_epoll);
}

bool CMessageQueue::Post(const MSG& msg)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_messages.push_back(msg);
    }
    // The owner needs no wake-up for its own posts: it looks at the list
    // before it waits.
    if (CurrentThreadIdImpl() != m_threadId) {
        uint64_t one = 1;
        ssize_t written;
        do {
            written = write(m_wake, &one, sizeof one);
        } while (written < 0 && errno == EINTR);
    }
    return true;
}

bool CMessageQueue::PopLocked(MSG* msg, bool remove)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_messages.empty()) return false;
    *msg = m_messages.front();
    if (remove) m_messages.pop_front();
    return true;
}

bool CMessageQueue::PollOnce(int timeoutMs)
{
    epoll_event events[32];
    int count = epoll_wait(m_epoll, events, 32, timeoutMs);
    m_takenSincePoll = 0;
    m_lastPoll = std::chrono::steady_clock::now();
    if (count < 0) return errno == EINTR;
    for (int i = 0; i < count; ++i) {
        int fd = events[i].data.fd;
        if (fd == m_wake) {
            uint64_t value;
            while (read(m_wake, &value, sizeof value) > 0) {
            }
            continue;
        }
        // Looked up at delivery: an earlier source of this batch, or another
        // thread, may have removed this one.
        std::lock_guard<std::recursive_mutex> guard(m_sourcesMutex);
        auto it = m_sources.find(fd);
        if (it != m_sources.end()) it->second->OnPollReady(events[i].events);
    }
    return true;
}

void CMessageQueue::PollIfDue()
{
    if (m_takenSincePoll >= kPollEveryMessages ||
        std::chrono::steady_clock::now() - m_lastPoll >= std::chrono::milliseconds(kPollEveryMs))
        PollOnce(0);
}

bool CMessageQueue::Take(MSG* msg, DWORD timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    PollIfDue();
    for (;;) {
        if (PopLocked(msg, true)) {
            ++m_takenSincePoll;
            return true;
        }
        int wait = -1;
        if (timeoutMs != INFINITE_WAIT) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return PopLocked(msg, true) || (PollOnce(0) && PopLocked(msg, true));
            wait = static_cast<int>(left);
        }
        if (!PollOnce(wait)) return false;
    }
}

bool CMessageQueue::TryTake(MSG* msg, bool remove)
{
    PollIfDue();
    if (PopLocked(msg, remove)) {
        if (remove) ++m_takenSincePoll;
        return true;
    }
    PollOnce(0);
    return PopLocked(msg, remove);
}

size_t CMessageQueue::RemoveMessages(const std::function<bool(const MSG&)>& matches)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    size_t before = m_messages.size();
    std::erase_if(m_messages, matches);
    return before - m_messages.size();
}

bool CMessageQueue::AddPollSource(int fd, uint32_t events, IPollSource* source)
{
    std::lock_guard<std::recursive_mutex> guard(m_sourcesMutex);
    if (fd < 0 || !source || m_sources.count(fd)) return false;
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
    m_sources[fd] = source;
    return true;
}

bool CMessageQueue::ModifyPollSource(int fd, uint32_t events, IPollSource* source)
{
    std::lock_guard<std::recursive_mutex> guard(m_sourcesMutex);
    auto it = m_sources.find(fd);
    if (it == m_sources.end() || !source) return false;
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    if (epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev) != 0) return false;
    it->second = source;
    return true;
}

bool CMessageQueue::RemovePollSource(int fd)
{
    std::lock_guard<std::recursive_mutex> guard(m_sourcesMutex);
    auto it = m_sources.find(fd);
    if (it == m_sources.end()) return false;
    m_sources.erase(it);
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    return true;
}

std::shared_ptr<CMessageQueue> CurrentMessageQueue()
{
    if (!t_holder.queue) {
        auto queue = std::make_shared<CMessageQueue>();
        queue->SetThreadId(CurrentThreadIdImpl());
        t_holder.queue = queue;
        Register(queue);
    }
    return t_holder.queue;
}

std::shared_ptr<CMessageQueue> CreateMessageQueueForNewThread(DWORD* threadId)
{
    auto queue = std::make_shared<CMessageQueue>();
    DWORD id = g_nextThreadId.fetch_add(1);
    queue->SetThreadId(id);
    Register(queue);
    if (threadId) *threadId = id;
    return queue;
}

void AdoptMessageQueue(const std::shared_ptr<CMessageQueue>& queue)
{
    t_threadId = queue->ThreadId();
    t_holder.queue = queue;
}

std::shared_ptr<CMessageQueue> FindMessageQueue(DWORD threadId)
{
    std::lock_guard<std::mutex> guard(g_registryMutex);
    auto it = Registry().find(threadId);
    return it == Registry().end() ? nullptr : it->second;
}
