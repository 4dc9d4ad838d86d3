#pragma once
// What one size probe tells the checker that owns it.
//
// Contract: calls come on the service thread with the network lock held (or
// from the checker's own Start). The checker may destroy the calling session
// inside any of them: after reporting, the session touches nothing of itself.

#include <cstdint>

class IContentLengthCheckSessionEventListener {
public:
    virtual void OnProbeDone(int index, int64_t length) = 0;
    virtual void OnProbeFailed(int index, const char* url) = 0;
    virtual void OnProbeUnreachable(int index) = 0;
    virtual ~IContentLengthCheckSessionEventListener() = default;
};
