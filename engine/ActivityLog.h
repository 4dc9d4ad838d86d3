#pragma once
// The service's activity log: zdr-downloader/service.log under the user's
// state folder ($XDG_STATE_HOME), apart from the engine's files, which an
// update may replace.
//
// Every line is "[<24-character local time>] <message>\r\n", written by one
// open-append-close so that lines of both service threads never interleave
// and no handle is kept. A line that cannot be written is dropped silently:
// nothing in the service depends on the log. Lines beginning with
// "[MeshpullLib_D]" are diagnostics for DebugTrace, which discards them.

#include <cstddef>
#include <ctime>

void LogWrite(const char* message);
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Creates the missing folders of the path and empties the file.
void LogReset();
// Copies the log's path (computed once per process), always NUL-terminated.
void LogPath(char* buffer, size_t capacity);
void DebugTrace(const char* message);

// Time source of the line prefix; null restores the system clock.
void LogSetTimeSourceForTesting(time_t (*now)());
