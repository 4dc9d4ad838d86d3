#pragma once
// The overall outcome of one engine update: ok until a result code of a
// failed step (1 to 6) is recorded, and never ok again after that.
//
// Codes 0 (success) and 7 and above leave it as it is: 7 (an engine folder
// that cannot be made) gives the engine path up by a way of its own.

class CUpdateResult {
public:
    void Record(int code)
    {
        if (code >= kFirstFailure && code <= kLastFailure) m_ok = 0;
    }
    int IsOk() const { return m_ok; }

private:
    static constexpr int kFirstFailure = 1;
    static constexpr int kLastFailure = 6;

    int m_ok = 1;
};
