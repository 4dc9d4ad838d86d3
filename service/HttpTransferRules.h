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

// The name a URL entry's file gets by default: what follows its last '/'
// (empty without one, or when that '/' ends the scheme: a host alone).
std::string EntryFileName(const std::string& entry);

// Every name a file takes in its folder while it is downloaded: its own and
// those of the temporaries kept beside it (the plain path's part file and
// its record, the engine program's part and control files).
std::vector<std::string> NamesTakenBy(const std::string& name);

// Two files of one folder that would write into the same file: both carry
// one name, or one is named like a temporary of the other. `named` is the
// file whose own name `name` is; `other` carries it too (temporary false) or
// keeps a temporary under it (temporary true).
struct FileNameClash {
    size_t named = 0;
    size_t other = 0;
    bool temporary = false;
    std::string name;
};

// The first clash among the names of one folder's files, compared without
// regard to ASCII case, as a job compares them (an empty name is no file's
// and clashes with none); false when there is none.
bool FindFileNameClash(const std::vector<std::string>& names, FileNameClash* clash);

// The alternatives of a URL entry: its '|'-separated parts, each trimmed of
// blanks, empty parts left out.
std::vector<std::string> SplitAlternatives(const std::string& entry);

// The alternatives joined by '|' again: an entry with its blanks and empty
// alternatives gone.
std::string JoinAlternatives(const std::vector<std::string>& alternatives);
