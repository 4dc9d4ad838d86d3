#pragma once
// Where and how often the status line of a download is shown.
//
// Contract: used on the front end's own thread only. kBar redraws one line
// in place ("\r", the line, erase to its end); the line is formatted anew
// for the width the terminal has at each redraw, so it follows a resize and
// never wraps, and an unchanged line is not drawn again. kLine writes a
// whole line at most every kLinePeriod; the last line of a run is written
// only when it tells something the previous one did not (the same mark).
// kNone writes nothing. Other output on the same terminal must call Clear
// first, so that it does not land on the bar.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

enum class ProgressMode { kBar, kLine, kNone };

class CProgressDisplay {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // The terminal's width now, in columns.
    using Width = std::function<int()>;
    // The text for a width (<= 0: the plain line for a log).
    using Format = std::function<std::string(int columns)>;

    static constexpr std::chrono::seconds kLinePeriod{3};
    // Without a width from the terminal or COLUMNS.
    static constexpr int kDefaultColumns = 80;

    CProgressDisplay(FILE* out, ProgressMode mode, Width width, Clock now);

    // mark: what the line reports (bytes, files), so that the run's last
    // line is not a copy of the one before. last: the run's last line.
    void Show(const Format& format, long long mark, bool last);
    // Takes the bar off the screen (before a message or question).
    void Clear();
    // Ends the bar's line where it is, keeping it on the screen.
    void Keep();

    // The width of the terminal behind fd (its window size, else COLUMNS,
    // else kDefaultColumns).
    static int ColumnsOf(int fd);

private:
    FILE* m_out;
    ProgressMode m_mode;
    Width m_width;
    Clock m_now;
    // The bar as drawn, empty when none is on the screen.
    std::string m_drawn;
    bool m_printed = false;
    long long m_printedMark = 0;
    std::chrono::steady_clock::time_point m_printedAt{};
};
