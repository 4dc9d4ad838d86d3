#pragma once
// The overall outcome of one engine update: ok until a result code of a
// failed step is recorded, and never ok again after that.
//
// Every code but 0 (success) spoils it: a transfer that ended unreachable
// (7) or with a code nobody foresaw stands for a file that was not
// installed just as much as a digest mismatch does.

class CUpdateResult {
public:
    void Record(int code)
    {
        if (code != kSuccess) m_ok = 0;
    }
    int IsOk() const { return m_ok; }

private:
    static constexpr int kSuccess = 0;

    int m_ok = 1;
};
