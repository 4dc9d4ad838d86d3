#include "platform/CUnpackFolder.h"

#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
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
    m_destination = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_destination < 0) return Fail();
    std::random_device seed;
    std::mt19937 random(seed());
    for (int i = 0; i < kStagingNameTries; ++i) {
        std::string name = kStagingPrefix + std::to_string(random() % 1000000000u);
        if (mkdirat(m_destination, name.c_str(), 0700) == 0) {
            m_stagingName = name;
            break;
        }
        if (errno != EEXIST) return Fail();
    }
    if (m_stagingName.empty()) return Fail();
    m_staging = OpenDirectoryNoFollow(m_destination, m_stagingName);
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

bool CUnpackFolder::Commit()
{
    if (m_staging < 0 || m_file >= 0) return false;
    for (const Entry& entry : m_entries) {
        if (!CommitEntry(entry)) return false;
    }
    fsync(m_destination);
    Abandon();
    return true;
}

bool CUnpackFolder::CommitEntry(const Entry& entry)
{
    const int target = OpenParent(m_destination, entry.path, true);
    if (target < 0) return Fail();
    const std::string& name = entry.path.back();
    bool ok;
    if (entry.kind == Kind::kDirectory) {
        ok = mkdirat(target, name.c_str(), kDirectoryMode) == 0 || errno == EEXIST;
        const int check = ok ? OpenDirectoryNoFollow(target, name) : -1;
        ok = check >= 0;
        if (ok) close(check);
    } else {
        const int source = OpenParent(m_staging, entry.path, false);
        ok = source >= 0 && renameat(source, name.c_str(), target, name.c_str()) == 0;
        if (!ok) Fail();
        if (source >= 0) close(source);
    }
    if (!ok && !m_error) Fail();
    close(target);
    return ok;
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
        RemoveTree(m_destination, m_stagingName);
    }
    if (m_destination >= 0) {
        close(m_destination);
        m_destination = -1;
    }
    m_entries.clear();
    m_recorded.clear();
}
