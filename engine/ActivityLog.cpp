#include "engine/ActivityLog.h"

#include "netlib/http/UrlCredentials.h"
#include "platform/FileSystem.h"
#include "platform/UserFolders.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

constexpr size_t kFixedBuffer = 512;

std::atomic<time_t (*)()> g_timeSource{nullptr};

const std::string& KeptPath()
{
    static std::once_flag once;
    static std::string* path = nullptr;
    std::call_once(once, [] { path = new std::string(UserStateFolder() + "zdr-downloader/service.log"); });
    return *path;
}

time_t Now()
{
    auto source = g_timeSource.load();
    return source ? source() : time(nullptr);
}

} // namespace

void LogSetTimeSourceForTesting(time_t (*now)())
{
    g_timeSource.store(now);
}

void LogPath(char* buffer, size_t capacity)
{
    if (!buffer || capacity == 0) return;
    const std::string& path = KeptPath();
    size_t length = std::min(path.size(), capacity - 1);
    memcpy(buffer, path.data(), length);
    buffer[length] = '\0';
}

void LogWrite(const char* message)
{
    if (!message) return;
    int fd = open(KeptPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    time_t now = Now();
    struct tm local;
    localtime_r(&now, &local);
    // The classic 24-character form: "Wed Jun  9 04:05:06 2027".
    char stamp[32];
    strftime(stamp, sizeof stamp, "%a %b %e %H:%M:%S %Y", &local);
    std::string line;
    line.reserve(strlen(message) + 32);
    line += '[';
    line += stamp;
    line += "] ";
    // A URL's user name and password are the user's secret, not the log's.
    line += HideUrlCredentials(message);
    line += "\r\n";
    ssize_t ignored = write(fd, line.data(), line.size());
    (void)ignored;
    close(fd);
}

void LogPrintf(const char* format, ...)
{
    if (!format) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    char fixed[kFixedBuffer];
    int length = vsnprintf(fixed, sizeof fixed, format, args);
    va_end(args);
    if (length < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(length) + 1 < kFixedBuffer + 1) {
        va_end(copy);
        LogWrite(fixed);
        return;
    }
    std::unique_ptr<char[]> heap(new char[static_cast<size_t>(length) + 1]);
    vsnprintf(heap.get(), static_cast<size_t>(length) + 1, format, copy);
    va_end(copy);
    LogWrite(heap.get());
}

void LogReset()
{
    const std::string& path = KeptPath();
    CreateDirectoryChain(path.substr(0, path.find_last_of('/') + 1));
    DeleteOneFile(path);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
}

void DebugTrace(const char*) {}
