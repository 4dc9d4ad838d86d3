#pragma once
// The per-thread message queue behind the message functions of MessageLoop.h.
//
// One queue per thread, made on first use (or handed to a new thread by
// CPlatformThread). Any thread may post into it; only the owning thread
// retrieves. Retrieval blocks in one epoll wait that holds an eventfd (woken
// by posts) and every poll source of the thread (thread timer, sockets), so a
// thread that waits for messages waits for all of its events in one place.
// Posted messages do not starve the poll sources: while messages keep
// waiting, the sources are still looked at after every kPollEveryMessages
// messages taken, or once kPollEveryMs has passed since the last look.

#include "platform/IPollSource.h"
#include "platform/WinTypes.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class CMessageQueue {
public:
    static constexpr int kPollEveryMessages = 32;
    static constexpr int kPollEveryMs = 5;

    CMessageQueue();
    ~CMessageQueue();
    CMessageQueue(const CMessageQueue&) = delete;
    CMessageQueue& operator=(const CMessageQueue&) = delete;

    bool IsValid() const { return m_epoll >= 0 && m_wake >= 0; }
    DWORD ThreadId() const { return m_threadId; }
    void SetThreadId(DWORD id) { m_threadId = id; }

    // Any thread. Appends and wakes the owner.
    bool Post(const MSG& msg);

    // Owning thread. Blocks until a message is available (timeoutMs, or
    // INFINITE_WAIT). Returns false on timeout or when the wait failed.
    bool Take(MSG* msg, DWORD timeoutMs);
    // Owning thread, never blocks: looks at ready descriptors once.
    bool TryTake(MSG* msg, bool remove);

    // Any thread. Drops every queued message that matches; the count removed.
    size_t RemoveMessages(const std::function<bool(const MSG&)>& matches);

    // Any thread (see IPollSource.h for when the source is called).
    bool AddPollSource(int fd, uint32_t events, IPollSource* source);
    bool ModifyPollSource(int fd, uint32_t events, IPollSource* source);
    bool RemovePollSource(int fd);

private:
    bool PopLocked(MSG* msg, bool remove);
    // Waits at most timeoutMs (-1 forever) and runs the ready poll sources.
    bool PollOnce(int timeoutMs);
    // Owning thread: a look at the sources before the next message, when the
    // messages taken since the last look have reached either bound.
    void PollIfDue();

    std::mutex m_mutex;
    std::deque<MSG> m_messages;
    // Held while a source runs, so that a removal from another thread waits
    // for the call to end; recursive because a source may change registrations.
    std::recursive_mutex m_sourcesMutex;
    std::map<int, IPollSource*> m_sources;
    int m_epoll = -1;
    int m_wake = -1;
    DWORD m_threadId = 0;
    // Owning thread only.
    int m_takenSincePoll = 0;
    std::chrono::steady_clock::time_point m_lastPoll = std::chrono::steady_clock::now();
};

// The calling thread's queue, made on first use.
std::shared_ptr<CMessageQueue> CurrentMessageQueue();
// Makes a queue for a thread that does not run yet; the thread adopts it with
// AdoptMessageQueue before anything else, so posts to it succeed at once.
std::shared_ptr<CMessageQueue> CreateMessageQueueForNewThread(DWORD* threadId);
void AdoptMessageQueue(const std::shared_ptr<CMessageQueue>& queue);
// The queue of a thread, or null when that thread has none (or has ended).
std::shared_ptr<CMessageQueue> FindMessageQueue(DWORD threadId);
// The queue of the thread that made a message window; null for a foreign or
// unknown window, or when that thread has ended.
std::shared_ptr<CMessageQueue> FindWindowMessageQueue(HWND window);
