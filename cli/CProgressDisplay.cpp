#include "cli/CProgressDisplay.h"

#include <sys/ioctl.h>

#include <cstdlib>

CProgressDisplay::CProgressDisplay(FILE* out, ProgressMode mode, Width width, Clock now)
    : m_out(out), m_mode(mode), m_width(std::move(width)), m_now(std::move(now))
{
}

void CProgressDisplay::Show(const Format& format, long long mark, bool last)
{
    if (m_mode == ProgressMode::kBar) {
        const std::string line = format(m_width());
        if (line == m_drawn) return;
        fprintf(m_out, "\r%s\x1b[K", line.c_str());
        fflush(m_out);
        m_drawn = line;
        return;
    }
    if (m_mode != ProgressMode::kLine) return;
    const auto now = m_now();
    if (m_printed && (last ? mark == m_printedMark : now - m_printedAt < kLinePeriod)) return;
    fprintf(m_out, "%s\n", format(0).c_str());
    fflush(m_out);
    m_printed = true;
    m_printedMark = mark;
    m_printedAt = now;
}

void CProgressDisplay::Clear()
{
    if (m_drawn.empty()) return;
    fputs("\r\x1b[K", m_out);
    fflush(m_out);
    m_drawn.clear();
}

void CProgressDisplay::Keep()
{
    if (m_drawn.empty()) return;
    fputs("\n", m_out);
    fflush(m_out);
    m_drawn.clear();
}

int CProgressDisplay::ColumnsOf(int fd)
{
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    const char* columns = getenv("COLUMNS");
    const int fromEnvironment = columns ? atoi(columns) : 0;
    return fromEnvironment > 0 ? fromEnvironment : kDefaultColumns;
}
