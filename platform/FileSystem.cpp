#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

bool PathExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool DirectoryExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateOneDirectory(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) == 0) return true;
    return errno == EEXIST && DirectoryExists(path);
}

bool CreateDirectoryChain(const std::string& folder)
{
    for (size_t i = 1; i < folder.size(); ++i) {
        if (folder[i] != '/') continue;
        std::string prefix = folder.substr(0, i + 1);
        if (!DirectoryExists(prefix) && !CreateOneDirectory(prefix)) return false;
    }
    return true;
}

bool DeleteOneFile(const std::string& path)
{
    return unlink(path.c_str()) == 0;
}

int64_t FreeDiskSpace(const std::string& folder)
{
    std::string path = folder;
    for (;;) {
        struct statvfs vfs;
        if (!path.empty() && statvfs(path.c_str(), &vfs) == 0)
            return static_cast<int64_t>(vfs.f_bfree) * static_cast<int64_t>(vfs.f_frsize);
        while (!path.empty() && path.back() == '/') path.pop_back();
        size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return -1;
        path = path.substr(0, slash + 1);
    }
}

int64_t RegularFileSize(const std::string& path)
{
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool IsExecutableFile(const std::string& path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

bool MakeExecutable(const std::string& path)
{
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_mode & S_IXUSR) return true;
    const mode_t readBits = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR | (readBits >> 2)) == 0;
}

bool ReadOwnFile(const std::string& path, std::string* bytes)
{
    bytes->clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) bytes->append(buffer, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

bool WriteOwnFile(const std::string& path, const std::string& bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    return close(fd) == 0 && written == bytes.size();
}
