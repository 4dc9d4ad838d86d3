#pragma once
// Starting programs and files the way the desktop shell would: the installer
// at the end of a download, and the engine with a readiness wait.
//
// Contract of the verbs (both entry points):
// - verb "runas": the file itself is started as a program (there is no
//   elevation here: it is a start of its own, which fails for a file that
//   cannot be executed). verb "open": a file with the execute bit is started
//   as a program; any other file, or one whose start fails, is handed to
//   xdg-open, the desktop's handler for files. Any other verb is EINVAL.
// - Failures are the result (false, with errno's number in *error when error
//   is not null); nothing is shown or logged.

#include <string>
#include <sys/types.h>

// Success means the new process has passed exec (for "open" through
// xdg-open: xdg-open has), seen through a close-on-exec pipe and waited for
// at most waitMs; a process that has not got there by then counts as
// started. The program runs on its own: it is never waited for or killed,
// and reaping it is the caller's (through *pid) or nobody's.
bool ShellExecuteFile(const std::string& path, const std::string& verb, int waitMs, pid_t* pid = nullptr,
                      int* error = nullptr);

// A program started with a readiness pipe. The program finds the pipe's
// write end as the descriptor whose number is in ZDR_READY_FD and writes
// one line there once it is ready for work; readyFd is our read end. It runs
// detached: in a session of its own, with /dev/null as its standard input,
// output and error, so it holds nothing of our terminal or our pipes.
struct StartedProgram {
    pid_t pid = -1;
    int readyFd = -1;
};

constexpr const char* kReadyFdVariable = "ZDR_READY_FD";

// The shell's start with a verb (as above) or, for CreateProgram, the
// program itself with no fall-back. On success the program has passed exec
// and *started holds it; the caller must end its ownership with
// WaitForInputIdle or ReleaseProgram. On failure *started is untouched.
bool ShellExecuteProgram(const std::string& path, const std::string& verb, StartedProgram* started,
                         int* error = nullptr);
bool CreateProgram(const std::string& path, StartedProgram* started, int* error = nullptr);

enum class InputIdle {
    Ready,    // the program wrote its line
    TimedOut, // still running after waitMs without a line
    Ended,    // it ended before saying it was ready
};

// A line that begins with this is no readiness: the program says why it
// cannot become ready (the rest of the line) and is about to end.
constexpr const char* kNotReadyPrefix = "failed ";

// Waits at most waitMs for the program's line or its end; a program that
// closes the pipe without a line, or says it failed, is waited for as one
// that never writes. Afterwards the pipe is closed and the program is
// released as by ReleaseProgram (one that ended is reaped here; for Ended
// *exitStatus gets its wait status, and *failure what it said of its
// failure, if anything). *started is emptied; a null or empty one has Ended.
InputIdle WaitForInputIdle(StartedProgram* started, int waitMs, int* exitStatus = nullptr,
                           std::string* failure = nullptr);

// Closes the readiness pipe and lets a small background reaper collect the
// program's exit, so no finished program is left as a zombie. The program
// itself runs on. *started is emptied; an empty one is nothing to release.
void ReleaseProgram(StartedProgram* started);
