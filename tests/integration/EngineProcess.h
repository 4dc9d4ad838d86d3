#pragma once
// The download engine as a real process on a free port, started the way the
// binary runner starts it (readiness line on ZDR_READY_FD), optionally
// through a wrapper command (e.g. a private mount namespace), and stopped
// with SIGTERM.

#include "LoopbackSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

class EngineProcess {
public:
    static uint16_t FreePort()
    {
        uint16_t port = 0;
        close(BindOnLoopback(port));
        return port;
    }

    explicit EngineProcess(uint16_t port = FreePort()) : m_port(port) {}
    ~EngineProcess() { Stop(); }

    // argv: the engine's command line, or a wrapper ending in the engine;
    // true once the engine said it is ready (within 10 s).
    bool Start(std::vector<std::string> argv = {ZDR_ENGINE_PATH}, const std::vector<std::string>& env = {})
    {
        int ready[2];
        if (pipe(ready) != 0) return false;
        fcntl(ready[0], F_SETFD, FD_CLOEXEC);
        std::vector<std::string> given = env;
        given.push_back("ZDR_ENGINE_PORT=" + std::to_string(m_port));
        given.push_back("ZDR_READY_FD=" + std::to_string(ready[1]));
        // A given variable replaces the inherited one of the same name.
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const auto& g : given) replaced |= entry.substr(0, entry.find('=') + 1) == g.substr(0, g.find('=') + 1);
            if (!replaced) environment.push_back(entry);
        }
        environment.insert(environment.end(), given.begin(), given.end());
        std::vector<char*> args, envp;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        for (auto& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        const int spawned = posix_spawnp(&m_pid, args[0], nullptr, nullptr, args.data(), envp.data());
        close(ready[1]);
        if (spawned != 0) {
            close(ready[0]);
            m_pid = -1;
            return false;
        }
        std::string line;
        pollfd p{ready[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) == 1) {
            char buffer[64];
            const ssize_t n = read(ready[0], buffer, sizeof buffer);
            if (n <= 0) break;
            line.append(buffer, static_cast<size_t>(n));
        }
        close(ready[0]);
        return line.rfind("ready", 0) == 0;
    }
    // The exit status, or -1 when it was not running; signals give 128 + n.
    int Stop()
    {
        if (m_pid <= 0) return -1;
        kill(m_pid, SIGTERM);
        return Wait();
    }
    int Wait()
    {
        if (m_pid <= 0) return -1;
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // The exit status once it has exited within timeoutMs, else -2 (still
    // running, left running).
    int WaitFor(int timeoutMs)
    {
        if (m_pid <= 0) return -1;
        for (int waited = 0;; waited += 20) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (waited >= timeoutMs) return -2;
            usleep(20000);
        }
    }
    uint16_t Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }

private:
    uint16_t m_port;
    pid_t m_pid = -1;
};
