#pragma once
// Writes the entries of one archive into a destination folder so that a
// broken or hostile archive cannot do harm:
// - Every entry is first written into a private staging folder inside the
//   destination (same file system). Only Commit moves the entries into
//   place, each file and link by one rename over its final name: a file is
//   never half-written under its final name, and a running program can be
//   replaced (its old file stays intact for the running process). Until
//   Commit nothing in the destination changes; an abandoned unpack removes
//   its staging folder.
// - Entries are named by path components relative to the folder, already
//   checked by the caller (no "..", no empty or "." components). No component
//   is ever followed through a symbolic link, neither in the staging folder
//   nor in the destination: a path through a link fails, so nothing lands
//   outside the folder.
// - Files get mode 0644, or 0755 when executable; directories 0755 (both
//   reduced by the umask). Nothing is ever set-user-id, set-group-id, sticky
//   or world-writable.
//
// Contract: one unpack per object: Begin, the Add/file calls in archive
// order, then Commit (or destruction, which abandons). Any false answer
// leaves the object failed; the caller abandons it. Not thread-safe.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <vector>

class CUnpackFolder {
public:
    using Path = std::vector<std::string>;

    static constexpr const char* kStagingPrefix = ".zdr-unpack-";

    CUnpackFolder() = default;
    ~CUnpackFolder();
    CUnpackFolder(const CUnpackFolder&) = delete;
    CUnpackFolder& operator=(const CUnpackFolder&) = delete;

    // Creates the folder (and every missing folder along it) and the staging
    // folder inside it.
    bool Begin(const std::string& folder);
    bool AddDirectory(const Path& path);
    // A symbolic link; the caller has checked that the target stays inside.
    bool AddLink(const Path& path, const std::string& target);
    // One file: BeginFile, WriteFile any number of times, EndFile. mtime 0
    // keeps the time of writing.
    bool BeginFile(const Path& path);
    bool WriteFile(const void* data, size_t length);
    bool EndFile(bool executable, time_t mtime);
    // Moves every entry into the destination in archive order and removes
    // the staging folder. False when an entry could not be moved (entries
    // moved before it stay).
    bool Commit();
    // Removes the staging folder and what it holds; the destination keeps
    // what it had.
    void Abandon();

    // The error of the last failed system call (0: none).
    int LastError() const { return m_error; }

private:
    enum class Kind { kDirectory, kFile, kLink };
    struct Entry {
        Path path;
        Kind kind;
    };

    bool Fail();
    int OpenParent(int root, const Path& path, bool create);
    bool Record(const Path& path, Kind kind);
    bool CommitEntry(const Entry& entry);

    int m_destination = -1;
    int m_staging = -1;
    std::string m_stagingName;
    int m_file = -1;
    std::vector<Entry> m_entries;
    std::set<Path> m_recorded;
    int m_error = 0;
};
