#pragma once
// A file descriptor watched by a thread's message queue.
//
// Contract: a poll source is registered with AddPollSource on the thread that
// owns the queue and is called back only on that thread, from inside
// GetMessage/PeekMessage, when its descriptor is ready. OnPollReady typically
// turns the readiness into messages with PostToCurrentQueue; it may also modify
// or remove its own registration (or that of another source). The queue does
// not own the source: the source must remove itself before it is destroyed.

#include <cstdint>

class IPollSource {
public:
    // events: the epoll event bits that were reported for the descriptor.
    virtual void OnPollReady(uint32_t events) = 0;

protected:
    ~IPollSource() = default;
};
