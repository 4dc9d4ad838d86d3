#pragma once
// The status line of a running download.

#include "service/DlApi.h"

#include <string>

// columns > 0: the line for a terminal that wide, with a bar, redrawn in
// place; it never takes the last column (some terminals wrap there), and
// when it would not fit, whole fields are dropped in a fixed order: elapsed
// time, path, file name, files, remaining time, bar, speed, bytes (the
// percentage stays). columns <= 0: the plain line for a log or pipe, every
// field, no bar.
// Fields: percent, bytes present / total, speed per second, elapsed time,
// remaining time (only once there is a speed to reckon it from), the files,
// the path the job runs on (a DL_PATH_ value: "via engine", "via plain",
// nothing for DL_PATH_NONE) and the current file.
std::string FormatProgressLine(const DlProgress& progress, int path, int columns);
// The engine update's line: "updating engine: NAME x of y", with "(file n of
// m)" when the update fetches several files; cut to fit as above.
std::string FormatEngineUpdateLine(const DlEngineUpdate& update, int columns);
// A rate with its unit per second: "0 Bytes/s", "512 Bytes/s", "2.00 KB/s".
std::string FormatRate(double bytesPerSecond);
