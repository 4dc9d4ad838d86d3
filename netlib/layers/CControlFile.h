#pragma once
// The control file the engine keeps beside a partial download
// ("<name>.zdrctl" next to "<name>.zdrpart"): where the bytes came from and
// which of them are on disk, so a later run can continue the file. The
// front end reads it too, to say how much of a part is there.
//
// Contract: Save writes a temporary file and renames it over the old one, so
// a reader finds either the old record or the new one, never a mix; a failed
// Save removes its temporary. Load
// answers false for a missing or unreadable file and for any record that
// does not hold together (pieces outside the size, overlapping, unordered).
// The record may claim fewer bytes than are on disk, never more: the engine
// saves it only after the bytes it names were written.

#include <cstdint>
#include <string>
#include <vector>

class CControlFile {
public:
    struct Piece {
        int64_t start;
        int64_t end; // exclusive
        int64_t done; // bytes written from start
    };
    std::string url;
    int64_t size = -1;
    std::string etag;
    std::string lastModified;
    std::vector<Piece> pieces;

    int64_t DoneBytes() const;
    bool Save(const std::string& path) const;
    bool Load(const std::string& path);
};
