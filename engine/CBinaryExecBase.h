#pragma once
// The binary runner: starts the engine executable at the end of the engine
// update and waits until it is ready for work.
//
// Contract:
// - Run is called on the service thread only and blocks it for the
//   readiness wait, at most ReadyWaitMs (10 s unless a test shortens it).
// - Start chain, each step logged: the shell's "runas" when the elevation
//   flag is 1, else "open" ("Execute OK(0)"); after a cancelled elevation
//   (kErrorCancelled: "Execute Fail(0) %s:%d") the shell's "open"
//   ("Execute OK(1)" / "Execute Fail(1) %s:%d"), then a direct start
//   ("Execute OK(2)" / "Execute Fail(2) %s:%d"); after any other failure of
//   the first attempt a direct start at once ("Execute OK(3)" /
//   "Execute Fail(3) %s:%d"). The numbers are errno values.
// - After a start: "Begin WFII", the readiness wait, "End WFII". A program
//   that ended before it said it was ready was not started: Run answers 0
//   and logs its exit. Otherwise (ready, or still running at the bound) 1.
// - The runner keeps nothing of a started program: its readiness pipe is
//   closed and its exit is collected in the background (no zombies).

#include "platform/ShellExecute.h"

#include <string>

class CBinaryExecBase {
public:
    // What the shell answers when the user declines the elevation prompt.
    static constexpr int kErrorCancelled = 1223;
    static constexpr int kReadyWaitMs = 10000;

    // One start attempt: verb "runas" or "open" for the shell, null for a
    // direct start. On success *started holds the program; on failure
    // *error holds the reason.
    using StartFunction = bool (*)(const std::string& path, const char* verb, StartedProgram* started, int* error);

    virtual ~CBinaryExecBase() = default;

    // 1 with the program's path, or 0 when there is none to run.
    virtual int GetExecutable(std::string* path) = 0;
    virtual void MakeCommandLine(const std::string& input, std::string* commandLine) = 0;

    // 1 started, 0 not started. The parameters are not passed on.
    int Run(const char* parameters);

    void SetStartFunction(StartFunction start) { m_start = start ? start : &DefaultStart; }
    void SetReadyWaitMs(int waitMs) { m_readyWaitMs = waitMs; }

private:
    static bool DefaultStart(const std::string& path, const char* verb, StartedProgram* started, int* error);
    bool Attempt(const std::string& path, const char* verb, int step, StartedProgram* started, int* error);

    StartFunction m_start = &DefaultStart;
    int m_readyWaitMs = kReadyWaitMs;
};
