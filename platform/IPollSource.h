#pragma once
// A file descriptor watched by a thread's message queue.
//
// Contract: a poll source may be registered from any thread, but it is called
// back only on the thread that owns the queue, from inside GetMessage or
// PeekMessage, when its descriptor is ready. OnPollReady runs with the queue's
// source lock held, so it must not wait for another thread: it turns the
// readiness into messages (posting never blocks) and may modify or remove its
// own registration (or that of another source). The queue does not own the
// source: the source must remove itself before it is destroyed; once
// RemovePollSource has returned, no call of OnPollReady is running or will run.

#include <cstdint>

class IPollSource {
public:
    // events: the epoll event bits that were reported for the descriptor.
    virtual void OnPollReady(uint32_t events) = 0;

protected:
    ~IPollSource() = default;
};
