#include "platform/CUnpackFolder.h"

#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace {

constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kFileMode = 0644;
constexpr mode_t kExecutableMode = 0755;
constexpr int kStagingNameTries = 100;

int OpenDirectoryNoFollow(int parent, const std::string& name)
{
    return openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Removes name inside parent and, for a directory, everything below it,
// without following links.
void RemoveTree(int parent, const std::string& name)
{
    const int fd = OpenDirectoryNoFollow(parent, name);
    if (fd < 0) {
        unlinkat(parent, name.c_str(), 0);
        return;
    }
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* item = readdir(dir)) {
        const std::string child = item->d_name;
        if (child != "." && child != "..") names.push_back(child);
    }
    for (const std::string& child : names) RemoveTree(dirfd(dir), child);
    closedir(dir);
    unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

} // namespace

CUnpackFolder::~CUnpackFolder()
{
    Abandon();
}

bool CUnpackFolder::Fail()
{
    m_error = errno ? errno : EIO;
    return false;
}

bool CUnpackFolder::Begin(const std::string& folder)
{
    if (folder.empty()) return false;
    const std::string path = folder.back() == '/' ? folder : folder + "/";
    if (!CreateDirectoryChain(path)) return Fail();
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real)) return Fail();
    const std::string resolved = real;
    const size_t slash = resolved.find_last_of('/');
    // The root has no parent to switch it in.
    if (slash == std::string::npos || slash + 1 >= resolved.size()) {
        errno = EINVAL;
        return Fail();
    }
    m_destinationName = resolved.substr(slash + 1);
    m_parent = open(slash == 0 ? "/" : resolved.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_parent < 0) return Fail();
    m_destination = OpenDirectoryNoFollow(m_parent, m_destinationName);
    if (m_destination < 0) return Fail();
    std::random_device seed;
    std::mt19937 random(seed());
    for (int i = 0; i < kStagingNameTries; ++i) {
        std::string name = kStagingPrefix + std::to_string(random() % 1000000000u);
        if (mkdirat(m_parent, name.c_str(), 0700) == 0) {
            m_stagingName = name;
            break;
        }
        if (errno != EEXIST) return Fail();
    }
    if (m_stagingName.empty()) return Fail();
    m_staging = OpenDirectoryNoFollow(m_parent, m_stagingName);
    return m_staging >= 0 || Fail();
}

// Opens the directory that holds the last component of path, below root,
// creating missing directories on the way when create is set. -1 on failure
// (also when a component is a link or not a directory).
int CUnpackFolder::OpenParent(int root, const Path& path, bool create)
{
    int current = dup(root);
    if (current < 0) return -1;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        if (create && mkdirat(current, path[i].c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
            close(current);
            return -1;
        }
        const int next = OpenDirectoryNoFollow(current, path[i]);
        close(current);
        if (next < 0) return -1;
        current = next;
    }
    return current;
}

bool CUnpackFolder::Record(const Path& path, Kind kind)
{
    if (m_recorded.insert(path).second) m_entries.push_back({path, kind});
    return true;
}

bool CUnpackFolder::AddDirectory(const Path& path)
{
    if (m_staging < 0 || path.empty()) return false;
    const int parent = OpenParent(m_staging, path, true);
    if (parent < 0) return Fail();
    const bool made = mkdirat(parent, path.back().c_str(), kDirectoryMode) == 0 || errno == EEXIST;
    const int check = made ? OpenDirectoryNoFollow(parent, path.back()) : -1;
    if (check < 0) {
        Fail();
        close(parent);
        return false;
    }
    close(check);
    close(parent);
    return Record(path, Kind::kDirectory);
}

bool CUnpackFolder::AddLink(const Path& path, const std::string& target)
{
    if (m_staging < 0 || path.empty() || target.empty()) return false;
    const int parent = OpenParent(m_staging, path, true);
    if (parent < 0) return Fail();
    const bool made = symlinkat(target.c_str(), parent, path.back().c_str()) == 0;
    if (!made) Fail();
    close(parent);
    return made && Record(path, Kind::kLink);
}

bool CUnpackFolder::BeginFile(const Path& path)
{
    if (m_staging < 0 || m_file >= 0 || path.empty()) return false;
    const int parent = OpenParent(m_staging, path, true);
    if (parent < 0) return Fail();
    m_file = openat(parent, path.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (m_file < 0) Fail();
    close(parent);
    return m_file >= 0 && Record(path, Kind::kFile);
}

bool CUnpackFolder::WriteFile(const void* data, size_t length)
{
    if (m_file < 0) return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (length) {
        const ssize_t written = write(m_file, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            return Fail();
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool CUnpackFolder::EndFile(bool executable, time_t mtime)
{
    if (m_file < 0) return false;
    bool ok = fchmod(m_file, executable ? kExecutableMode : kFileMode) == 0;
    if (ok && mtime > 0) {
        const timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
        ok = futimens(m_file, times) == 0;
    }
    // The data must be on disk before the rename makes it the file's content.
    ok = ok && fsync(m_file) == 0;
    if (!ok) Fail();
    if (close(m_file) != 0 && ok) ok = Fail();
    m_file = -1;
    return ok;
}

bool CUnpackFolder::CarryOver(int from, int to)
{
    const int listed = dup(from);
    DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0) close(listed);
        return Fail();
    }
    rewinddir(dir);
    std::vector<std::string> names;
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names) {
        // What an interrupted unpack left behind is not carried on.
        if (name.rfind(kStagingPrefix, 0) == 0) continue;
        struct stat old;
        if (fstatat(from, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) return Fail();
        struct stat staged;
        if (fstatat(to, name.c_str(), &staged, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) return Fail();
            if (!S_ISDIR(old.st_mode)) {
                if (linkat(from, name.c_str(), to, name.c_str(), 0) != 0) return Fail();
                continue;
            }
            if (mkdirat(to, name.c_str(), old.st_mode & 0777) != 0) return Fail();
        } else if (S_ISDIR(old.st_mode) != S_ISDIR(staged.st_mode)) {
            // A folder and a file under one name: neither may silently win.
            errno = S_ISDIR(old.st_mode) ? EISDIR : ENOTDIR;
            return Fail();
        }
        if (!S_ISDIR(old.st_mode)) continue;
        const int fromChild = OpenDirectoryNoFollow(from, name);
        const int toChild = fromChild >= 0 ? OpenDirectoryNoFollow(to, name) : -1;
        const bool carried = toChild >= 0 && CarryOver(fromChild, toChild);
        if (toChild < 0) Fail();
        if (fromChild >= 0) close(fromChild);
        if (toChild >= 0) close(toChild);
        if (!carried) return false;
    }
    return true;
}

bool CUnpackFolder::Commit()
{
    if (m_staging < 0 || m_file >= 0) return false;
    struct stat destination;
    if (fstat(m_destination, &destination) != 0) return Fail();
    if (!CarryOver(m_destination, m_staging)) return false;
    if (fchmod(m_staging, destination.st_mode & 0777) != 0) return Fail();
    if (fsync(m_staging) != 0) return Fail();
    // The one step: the destination's name now holds the new folder, the
    // staging name the old one.
    if (renameat2(m_parent, m_stagingName.c_str(), m_parent, m_destinationName.c_str(), RENAME_EXCHANGE) != 0)
        return Fail();
    fsync(m_parent);
    Abandon();
    return true;
}

void CUnpackFolder::Abandon()
{
    if (m_file >= 0) {
        close(m_file);
        m_file = -1;
    }
    if (m_staging >= 0) {
        close(m_staging);
        m_staging = -1;
        RemoveTree(m_parent, m_stagingName);
    }
    for (int* fd : {&m_destination, &m_parent}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    m_entries.clear();
    m_recorded.clear();
}
