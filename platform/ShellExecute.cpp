#include "platform/ShellExecute.h"

#include "platform/FileSystem.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

extern char** environ;

namespace {

// Waits until every copy of the pipe's write end is gone: the child closes
// its copy when exec succeeds (close-on-exec) or when it dies.
void WaitUntilExecPassed(int readEnd, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd fd{readEnd, POLLIN, 0};
        int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        char byte;
        ssize_t got = read(readEnd, &byte, 1);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return;
    }
}

bool Spawn(const char* program, const std::vector<std::string>& args, bool searchPath, int waitMs, pid_t* pid,
           int* error)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (error) *error = errno;
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    int result = searchPath ? posix_spawnp(&child, program, nullptr, nullptr, argv.data(), environ)
                            : posix_spawn(&child, program, nullptr, nullptr, argv.data(), environ);
    close(fds[1]);
    if (result == 0) WaitUntilExecPassed(fds[0], waitMs);
    close(fds[0]);
    if (result != 0) {
        if (error) *error = result;
        return false;
    }
    if (pid) *pid = child;
    return true;
}

} // namespace

bool ShellExecuteFile(const std::string& path, const std::string& verb, int waitMs, pid_t* pid, int* error)
{
    if (path.empty() || !PathExists(path)) {
        if (error) *error = ENOENT;
        return false;
    }
    if (verb == "runas") return Spawn(path.c_str(), {path}, false, waitMs, pid, error);
    if (verb != "open") {
        if (error) *error = EINVAL;
        return false;
    }
    if (IsExecutableFile(path) && Spawn(path.c_str(), {path}, false, waitMs, pid, error)) return true;
    return Spawn("xdg-open", {"xdg-open", path}, true, waitMs, pid, error);
}
