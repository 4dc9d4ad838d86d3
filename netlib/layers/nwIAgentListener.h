#pragma once
// What the agent layer tells its listener (the transfer reporter).
//
// Contract: every call comes on the service thread with the network lock
// held, from inside the connection's event handling, and only while a
// listener is set. The listener may close the connection, send further
// reports or detach itself inside any call; it must not drop the last
// reference to the connection there (hand it to the collector instead).
// OnAgentClosed comes once, for every kind of end; the layer does not detach
// the listener by itself. The cookie is the value given with the listener.

#include <cstdint>

class nwIAgentListener {
public:
    virtual void OnAgentConnected(int32_t cookie) = 0;
    // A reply frame arrived; value is its first payload byte (0 for a reply
    // without payload).
    virtual void OnAgentReply(int32_t cookie, uint8_t value) = 0;
    virtual void OnAgentClosed(int32_t cookie) = 0;
    // Connect timed out, was refused or the host was unreachable;
    // OnAgentClosed follows.
    virtual void OnAgentConnectTimeout(int32_t cookie) = 0;
    // Nothing was received for the connection's idle limit; it stays open.
    virtual void OnAgentRecvTimeout(int32_t cookie) = 0;

protected:
    ~nwIAgentListener() = default;
};
