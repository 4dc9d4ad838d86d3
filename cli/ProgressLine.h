#pragma once
// The status line of a running download.

#include "service/DlApi.h"

#include <string>

// With a bar (terminal, redrawn in place) or without (one line per second
// into a log or pipe): percent, bytes present / total, speed, elapsed and
// remaining time, and the current file.
std::string FormatProgressLine(const DlProgress& progress, bool withBar);
