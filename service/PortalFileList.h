#pragma once
// The portal's file list: plain text, one URL entry per line (one URL, or
// alternative URLs of the same file joined by '|'). Front ends fetch it with
// DlFetchData and parse it here before the size check.

#include <string>
#include <vector>

enum class PortalListResult {
    Ok,
    LineTooLong, // a line of 1024 bytes or more
    Empty,       // no entry at all
    NulByte,     // a line holding a NUL byte (which would cut it short)
};

// Lines end in LF or CR LF (a lone CR is an ordinary byte); empty lines are
// skipped; a final line without a break counts only when longer than 2 bytes.
// Each entry is trimmed of white space and its alternatives are trimmed, with
// empty ones dropped ("a.bin|" is "a.bin"); a line of only white space gives
// an empty entry. Nothing else of an entry is changed. On failure entries
// holds what was parsed before the fault and *faultLine (when given) the
// fault's line number, counted from 1.
PortalListResult ParsePortalFileList(const char* body, long long length, std::vector<std::string>* entries,
                                     long long* faultLine = nullptr);

// The message a front end shows for a failed parse (the system's own texts).
const char* PortalListErrorText(PortalListResult result);
