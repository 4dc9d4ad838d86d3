#include "cli/CTerminalQuestion.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>

namespace {

constexpr int kSliceMs = 100;
// A longer line is no answer; its bytes are dropped as they come.
constexpr size_t kMaxLine = 256;

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    std::string word = text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return word;
}

} // namespace

CTerminalQuestion::CTerminalQuestion(int inputFd, FILE* out, std::function<bool()> interrupted)
    : m_inputFd(inputFd), m_out(out), m_interrupted(std::move(interrupted))
{
}

CTerminalQuestion::Result CTerminalQuestion::Ask(const std::string& question, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        fputs(question.c_str(), m_out);
        fflush(m_out);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        std::string line;
        Result failure = Result::kEndOfInput;
        if (!ReadLine(&line, static_cast<int>(std::max<long long>(left.count(), 0)), &failure)) {
            // The question's line ends here, not in the next message.
            fputs("\n", m_out);
            fflush(m_out);
            return failure;
        }
        const std::string word = Trimmed(line);
        if (word == "y" || word == "yes") return Result::kYes;
        if (word == "n" || word == "no") return Result::kNo;
        fputs("Please answer y or n.\n", m_out);
    }
}

void CTerminalQuestion::DiscardTypedAhead()
{
    m_pending.clear();
    pollfd input{m_inputFd, POLLIN, 0};
    char buffer[128];
    while (!m_ended && poll(&input, 1, 0) > 0) {
        const ssize_t got = read(m_inputFd, buffer, sizeof buffer);
        if (got == 0) m_ended = true;
        if (got <= 0) break;
    }
}

bool CTerminalQuestion::ReadLine(std::string* line, int timeoutMs, Result* failure)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool overlong = false;
    for (;;) {
        const size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            *line = overlong ? std::string() : m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return true;
        }
        if (m_pending.size() > kMaxLine) {
            m_pending.clear();
            overlong = true;
        }
        *failure = m_ended ? Result::kEndOfInput : Result::kInterrupted;
        if (m_ended || (m_interrupted && m_interrupted())) return false;
        const auto now = std::chrono::steady_clock::now();
        *failure = Result::kTimedOut;
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        pollfd input{m_inputFd, POLLIN, 0};
        const int ready = poll(&input, 1, static_cast<int>(std::min<long long>(left, kSliceMs)));
        *failure = Result::kEndOfInput;
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char buffer[128];
        const ssize_t got = read(m_inputFd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            // The last line may lack its end.
            m_ended = true;
            if (!m_pending.empty()) m_pending += '\n';
            continue;
        }
        m_pending.append(buffer, static_cast<size_t>(got));
    }
}
