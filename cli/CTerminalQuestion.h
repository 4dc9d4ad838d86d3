#pragma once
// Yes/no questions asked on the terminal: the question is written, a line
// is read from the input descriptor, and anything but y/yes/n/no (any
// letter case, blanks around it ignored) asks again.
//
// Contract: used on the front end's own thread; the service thread goes on
// while a question waits (its events queue up in the inbox). Every wait is
// bounded by the time limit and ends early when interrupted() turns true
// (looked at every 100 ms). Bytes typed after a question are kept for the
// next one, unless DiscardTypedAhead drops them. The descriptor and the
// output are not owned.

#include <cstdio>
#include <functional>
#include <string>

class CTerminalQuestion {
public:
    enum class Result { kYes, kNo, kEndOfInput, kTimedOut, kInterrupted };

    CTerminalQuestion(int inputFd, FILE* out, std::function<bool()> interrupted);

    Result Ask(const std::string& question, int timeoutMs);
    // Drops what was typed before now (keys pressed while the download
    // ran are no answer to a question not yet shown).
    void DiscardTypedAhead();

private:
    // A whole line from the input (without its end) once one is there;
    // false with the reason (end of input, time limit, interrupted).
    bool ReadLine(std::string* line, int timeoutMs, Result* failure);

    int m_inputFd;
    FILE* m_out;
    std::function<bool()> m_interrupted;
    std::string m_pending;
    bool m_ended = false;
};
