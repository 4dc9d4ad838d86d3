#pragma once
// What the service-level size checker tells its owner.
//
// Contract: calls come on the service thread. The total stays in the checker
// (the application asks for it later); the listener must not destroy the
// checker inside a call.

class IContentLengthCheckerEventListener {
public:
    virtual void OnSizeCheckDone(unsigned int totalLow, int totalHigh) = 0; // 525
    virtual void OnSizeCheckFailed(const char* url) = 0;                   // 526
    virtual void OnSizeCheckUnreachable() = 0;                             // 526
    virtual ~IContentLengthCheckerEventListener() = default;
};
