#pragma once
// The status line of a running download.

#include "service/DlApi.h"

#include <string>

// With a bar (terminal, redrawn in place) or without (one line per second
// into a log or pipe): percent, bytes present / total, speed, elapsed and
// remaining time, the files, the path the job runs on (a DL_PATH_ value:
// "via engine", "via plain", nothing for DL_PATH_NONE) and the current file.
std::string FormatProgressLine(const DlProgress& progress, bool withBar, int path);
// The engine update's line: "updating engine: NAME x of y", with "(file n of
// m)" when the update fetches several files.
std::string FormatEngineUpdateLine(const DlEngineUpdate& update);
