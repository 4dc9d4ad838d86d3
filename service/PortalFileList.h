#pragma once
// The portal's file list: plain text, one URL entry per line (one URL, or
// alternative URLs of the same file joined by '|'). Front ends fetch it with
// DlFetchData and parse it here before the size check.

#include "service/HttpTransferRules.h"

#include <string>
#include <vector>

enum class PortalListResult {
    Ok,
    LineTooLong, // a line of 1024 bytes or more
    Empty,       // no entry at all
    NulByte,     // a line holding a NUL byte (which would cut it short)
    NameClash,   // two entries whose files would write into one (PortalEntriesClash)
};

// Lines end in LF, CR LF or a lone CR (a URL holds no CR, and a list saved
// with CR line ends is still one entry per line); empty lines are
// skipped; a final line without a break counts only when longer than 2 bytes.
// Each entry is trimmed of white space and its alternatives are trimmed, with
// empty ones dropped ("a.bin|" is "a.bin"); a line of only white space (or
// of empty alternatives) names no file and is skipped like an empty one.
// Nothing else of an entry is changed. On failure entries holds what was
// parsed before the fault and *faultLine (when given) the fault's line
// number, counted from 1. *entryLines (when given) receives each entry's
// line number, so that a message about an entry can point at its line.
PortalListResult ParsePortalFileList(const char* body, long long length, std::vector<std::string>* entries,
                                     long long* faultLine = nullptr, std::vector<long long>* entryLines = nullptr);

// Whether two entries' files, which share the download folder, would write
// into one file: the same name, or one named like the other's temporary
// file. The entries are counted from 0 in *clash.
bool PortalEntriesClash(const std::vector<std::string>& entries, FileNameClash* clash);

// The message a front end shows for a failed parse (the system's own texts).
const char* PortalListErrorText(PortalListResult result);
