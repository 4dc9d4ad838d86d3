#pragma once
// Small rules the plain downloader's sessions share about what a server says
// and what may become a local file.

#include <cstdint>
#include <string>
#include <vector>

// A Content-Range value: "bytes first-last/total" or "bytes */total", with
// "*" as total when it is unknown (-1). first and last are -1 for the "*"
// form. False for anything else.
bool ParseContentRange(const char* value, int64_t* first, int64_t* last, int64_t* total);

// A name that stays inside its folder: not empty, not "." or "..", without
// '/' and without control bytes.
bool IsSafeFileName(const std::string& name);

// The alternatives of a URL entry: its '|'-separated parts, each trimmed of
// blanks, empty parts left out.
std::vector<std::string> SplitAlternatives(const std::string& entry);

// The alternatives joined by '|' again: an entry with its blanks and empty
// alternatives gone.
std::string JoinAlternatives(const std::vector<std::string>& alternatives);
