#include "engine/CBinaryExecBase.h"

#include "engine/ActivityLog.h"
#include "engine/ElevationFlag.h"

#include <sys/wait.h>

bool CBinaryExecBase::DefaultStart(const std::string& path, const char* verb, StartedProgram* started, int* error)
{
    return verb ? ShellExecuteProgram(path, verb, started, error) : CreateProgram(path, started, error);
}

bool CBinaryExecBase::Attempt(const std::string& path, const char* verb, int step, StartedProgram* started,
                              int* error)
{
    *error = 0;
    if (!m_start(path, verb, started, error)) return false;
    LogPrintf("[MeshpullLib] Execute OK(%d)", step);
    return true;
}

int CBinaryExecBase::Run(const char*)
{
    std::string path;
    if (!GetExecutable(&path)) {
        LogWrite("[MeshpullLib] Run Binary (no executable file)");
        return 0;
    }
    StartedProgram program;
    int error = 0;
    const char* firstVerb = GetElevationFlag() == 1 ? "runas" : "open";
    bool started = Attempt(path, firstVerb, 0, &program, &error);
    if (!started && error == kErrorCancelled) {
        LogPrintf("[MeshpullLib] Execute Fail(0) %s:%d", path.c_str(), error);
        started = Attempt(path, "open", 1, &program, &error);
        if (!started) {
            LogPrintf("[MeshpullLib] Execute Fail(1) %s:%d", path.c_str(), error);
            started = Attempt(path, nullptr, 2, &program, &error);
            if (!started) {
                LogPrintf("[MeshpullLib] Execute Fail(2) %s:%d", path.c_str(), error);
                return 0;
            }
        }
    } else if (!started) {
        started = Attempt(path, nullptr, 3, &program, &error);
        if (!started) {
            LogPrintf("[MeshpullLib] Execute Fail(3) %s:%d", path.c_str(), error);
            return 0;
        }
    }

    LogWrite("[MeshpullLib] Begin WFII");
    int status = 0;
    std::string failure;
    const InputIdle idle = WaitForInputIdle(&program, m_readyWaitMs, &status, &failure);
    LogWrite("[MeshpullLib] End WFII");
    if (idle != InputIdle::Ended) return 1;
    // A program that is gone already (a broken build, a missing library, a
    // port another program holds) would leave the engine downloader
    // connecting to nothing; what it said of its failure is the cause.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    LogPrintf("[MeshpullLib] Run Binary (ended before ready) %s:%d%s%s", path.c_str(), code, failure.empty() ? "" : " ",
              failure.c_str());
    return 0;
}
