#pragma once
// Writes the entries of one archive into a destination folder so that a
// broken or hostile archive cannot do harm, and so that the folder is either
// all old or all new:
// - Every entry is first written into a private staging folder beside the
//   destination (in its parent, so on the same file system). Commit first
//   fills the staging folder with what the destination holds and the archive
//   does not replace (hard links: the same files, nothing copied), then
//   exchanges the two folders in one rename (RENAME_EXCHANGE) and removes
//   the old one. Until that rename the destination is untouched and whatever
//   it held keeps running; a failure anywhere before it leaves it as it was.
//   A running program can be replaced (its old file stays intact for the
//   running process). An abandoned unpack removes its staging folder.
// - An archive entry replaces a destination entry of the same kind; a file
//   or link where the destination has a folder (or the reverse) fails the
//   commit, as a rename over it would.
// - A destination given through a symbolic link is unpacked where the link
//   leads, and the link stays.
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
    // folder beside it.
    bool Begin(const std::string& folder);
    bool AddDirectory(const Path& path);
    // A symbolic link; the caller has checked that the target stays inside.
    bool AddLink(const Path& path, const std::string& target);
    // One file: BeginFile, WriteFile any number of times, EndFile. mtime 0
    // keeps the time of writing.
    bool BeginFile(const Path& path);
    bool WriteFile(const void* data, size_t length);
    bool EndFile(bool executable, time_t mtime);
    // Switches the destination to the unpacked entries (with everything
    // else it held) in one step. False, with the destination as it was, when
    // that cannot be done.
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
    // Links what the folder `from` holds into `to`, except what `to` has
    // already, descending into folders both have.
    bool CarryOver(int from, int to);

    int m_parent = -1;
    std::string m_destinationName;
    int m_destination = -1;
    int m_staging = -1;
    std::string m_stagingName;
    int m_file = -1;
    std::vector<Entry> m_entries;
    std::set<Path> m_recorded;
    int m_error = 0;
};
