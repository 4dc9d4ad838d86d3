#include "platform/ShellExecute.h"

#include "platform/FileSystem.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// Without a process descriptor the end of a program is looked for this often.
constexpr int kEndPollSliceMs = 50;

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until every copy of the pipe's write end is gone: the child closes
// its copy when exec succeeds (close-on-exec) or when it dies.
void WaitUntilExecPassed(int readEnd, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const int left = MillisecondsLeft(deadline);
        if (left <= 0) return;
        pollfd fd{readEnd, POLLIN, 0};
        int ready = poll(&fd, 1, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        char byte;
        ssize_t got = read(readEnd, &byte, 1);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return;
    }
}

// The environment of a program started with a readiness pipe: ours, with
// any inherited ZDR_READY_FD replaced.
std::vector<std::string> ReadyEnvironment(int readyWriteEnd)
{
    const std::string prefix = std::string(kReadyFdVariable) + "=";
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        if (strncmp(*entry, prefix.c_str(), prefix.size()) != 0) entries.emplace_back(*entry);
    }
    entries.push_back(prefix + std::to_string(readyWriteEnd));
    return entries;
}

// One start. With readyFd set the child gets a readiness pipe (its write end
// kept open across exec under its own number) and *readyFd our read end, and
// runs detached: a session of its own and /dev/null as its standard input,
// output and error, so a program that outlives us (the engine waits idle for
// a minute) holds neither our terminal nor the pipes our output goes to.
bool Spawn(const char* program, const std::vector<std::string>& args, bool searchPath, int waitMs, pid_t* pid,
           int* readyFd, int* error)
{
    auto fail = [error](int code) {
        if (error) *error = code;
        return false;
    };
    int execPipe[2];
    if (pipe2(execPipe, O_CLOEXEC) != 0) return fail(errno);
    int readyPipe[2] = {-1, -1};
    if (readyFd && pipe2(readyPipe, O_CLOEXEC) != 0) {
        const int code = errno;
        close(execPipe[0]);
        close(execPipe[1]);
        return fail(code);
    }

    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envEntries;
    std::vector<char*> envp;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    char** childEnv = environ;
    if (readyFd) {
        // A dup2 onto itself clears close-on-exec in the child only.
        posix_spawn_file_actions_adddup2(&actions, readyPipe[1], readyPipe[1]);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        envEntries = ReadyEnvironment(readyPipe[1]);
        for (std::string& entry : envEntries) envp.push_back(entry.data());
        envp.push_back(nullptr);
        childEnv = envp.data();
    }
    pid_t child = 0;
    int result = searchPath ? posix_spawnp(&child, program, &actions, &attributes, argv.data(), childEnv)
                            : posix_spawn(&child, program, &actions, &attributes, argv.data(), childEnv);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(execPipe[1]);
    if (readyFd) close(readyPipe[1]);
    if (result == 0) WaitUntilExecPassed(execPipe[0], waitMs);
    close(execPipe[0]);
    if (result != 0) {
        if (readyFd) close(readyPipe[0]);
        return fail(result);
    }
    if (pid) *pid = child;
    if (readyFd) *readyFd = readyPipe[0];
    return true;
}

bool ShellStart(const std::string& path, const std::string& verb, int waitMs, pid_t* pid, int* readyFd, int* error)
{
    if (path.empty() || !PathExists(path)) {
        if (error) *error = ENOENT;
        return false;
    }
    if (verb == "runas") return Spawn(path.c_str(), {path}, false, waitMs, pid, readyFd, error);
    if (verb != "open") {
        if (error) *error = EINVAL;
        return false;
    }
    if (IsExecutableFile(path) && Spawn(path.c_str(), {path}, false, waitMs, pid, readyFd, error)) return true;
    return Spawn("xdg-open", {"xdg-open", path}, true, waitMs, pid, readyFd, error);
}

// Exec has passed (or failed) by the time posix_spawn returns; this bound
// only guards against a child that hangs before it.
constexpr int kExecWaitMs = 5000;

void ReapInBackground(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// A descriptor that becomes readable when the process ends; -1 where the
// kernel has none (the end is then looked for every kEndPollSliceMs). The
// system call is used directly: glibc 2.36's declaration lacks C linkage.
int ProcessDescriptor(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

enum class PipeState { Nothing, Line, Closed };

// Reads what the readiness pipe holds now, without waiting, into *said
// (the text so far of its first line). A program may write as much as it
// likes; a few reads per look are enough to find a line.
PipeState CheckReadyPipe(int fd, std::string* said)
{
    constexpr int kReadsPerLook = 16;
    constexpr size_t kLineKept = 512;
    for (int i = 0; i < kReadsPerLook; ++i) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 0) <= 0) return PipeState::Nothing;
        char buffer[256];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            const char* end = static_cast<const char*>(memchr(buffer, '\n', static_cast<size_t>(got)));
            const size_t length = end ? static_cast<size_t>(end - buffer) : static_cast<size_t>(got);
            said->append(buffer, std::min(length, kLineKept - std::min(kLineKept, said->size())));
            if (end) return PipeState::Line;
        }
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return PipeState::Closed;
    }
    return PipeState::Nothing;
}

bool SaysItFailed(const std::string& line)
{
    return line.rfind(kNotReadyPrefix, 0) == 0;
}

// True when the program has ended; it is reaped then.
bool Ended(pid_t pid, int* status)
{
    for (;;) {
        const pid_t got = waitpid(pid, status, WNOHANG);
        if (got == pid) return true;
        if (got < 0 && errno == EINTR) continue;
        // Not ours to wait for (or already reaped): it is not running for us.
        return got < 0;
    }
}

} // namespace

bool ShellExecuteFile(const std::string& path, const std::string& verb, int waitMs, pid_t* pid, int* error)
{
    return ShellStart(path, verb, waitMs, pid, nullptr, error);
}

bool ShellExecuteProgram(const std::string& path, const std::string& verb, StartedProgram* started, int* error)
{
    StartedProgram program;
    if (!started || !ShellStart(path, verb, kExecWaitMs, &program.pid, &program.readyFd, error)) return false;
    *started = program;
    return true;
}

bool CreateProgram(const std::string& path, StartedProgram* started, int* error)
{
    StartedProgram program;
    if (!started || !Spawn(path.c_str(), {path}, false, kExecWaitMs, &program.pid, &program.readyFd, error))
        return false;
    *started = program;
    return true;
}

InputIdle WaitForInputIdle(StartedProgram* started, int waitMs, int* exitStatus, std::string* failure)
{
    if (!started || started->pid <= 0) return InputIdle::Ended;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    const pid_t pid = started->pid;
    int status = 0;
    bool reaped = false;
    InputIdle outcome = InputIdle::TimedOut;
    const int processFd = ProcessDescriptor(pid);
    pollfd fds[2] = {{started->readyFd, POLLIN, 0}, {processFd, POLLIN, 0}};
    std::string said;
    bool saidFailure = false;
    for (;;) {
        const PipeState pipe = fds[0].fd >= 0 ? CheckReadyPipe(fds[0].fd, &said) : PipeState::Closed;
        if (pipe == PipeState::Line && !SaysItFailed(said)) {
            outcome = InputIdle::Ready;
            break;
        }
        // A line that says why it cannot become ready, or a pipe closed
        // without a line: from now on only the program's end counts.
        if (pipe == PipeState::Line) saidFailure = true;
        if (pipe != PipeState::Nothing) fds[0].fd = -1;
        if (Ended(pid, &status)) {
            reaped = true;
            // A line written just before the end is in the pipe by now.
            bool ready = false;
            if (fds[0].fd >= 0 && CheckReadyPipe(fds[0].fd, &said) == PipeState::Line) {
                saidFailure = SaysItFailed(said);
                ready = !saidFailure;
            }
            outcome = ready ? InputIdle::Ready : InputIdle::Ended;
            break;
        }
        const int left = MillisecondsLeft(deadline);
        if (left <= 0) break;
        const int slice = processFd >= 0 ? left : std::min(left, kEndPollSliceMs);
        if (poll(fds, 2, slice) < 0 && errno != EINTR) break;
    }
    if (processFd >= 0) close(processFd);
    // One that said it failed is not waited for as a silent starter would be.
    if (saidFailure) outcome = InputIdle::Ended;
    if (outcome == InputIdle::Ended && exitStatus) *exitStatus = status;
    if (saidFailure && failure) *failure = said.substr(std::string(kNotReadyPrefix).size());
    // A reaped process is not handed to the reaper: its number may already
    // name another child.
    if (reaped) {
        if (started->readyFd >= 0) close(started->readyFd);
        *started = StartedProgram();
    } else {
        ReleaseProgram(started);
    }
    return outcome;
}

void ReleaseProgram(StartedProgram* started)
{
    if (!started) return;
    if (started->readyFd >= 0) close(started->readyFd);
    if (started->pid > 0) ReapInBackground(started->pid);
    *started = StartedProgram();
}
