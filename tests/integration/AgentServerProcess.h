#pragma once
// Our agent server as a real process on 127.0.0.1 with a free port, for the
// tests of both sides of the agent protocol.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

class AgentServerProcess {
public:
    // False when the server did not come up.
    bool Start(const std::string& output, const std::vector<std::string>& extra = {})
    {
        m_output = output;
        int err[2];
        if (pipe(err) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> args = {ZDR_AGENT_SERVER_PATH, "--port", "0", "--output", output};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const bool spawned = posix_spawn(&m_pid, ZDR_AGENT_SERVER_PATH, &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(err[1]);
        std::string line;
        char ch;
        while (spawned && read(err[0], &ch, 1) == 1 && ch != '\n') line += ch;
        close(err[0]);
        const std::string prefix = "listening on 127.0.0.1:";
        if (!spawned || line.rfind(prefix, 0) != 0) return false;
        m_port = static_cast<uint16_t>(atoi(line.c_str() + prefix.size()));
        return true;
    }
    // True when the server ended cleanly on SIGTERM.
    bool Stop()
    {
        if (m_pid <= 0) return true;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    ~AgentServerProcess() { Stop(); }

    uint16_t Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }
    std::string Output() const
    {
        std::ifstream in(m_output);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    pid_t m_pid = -1;
    uint16_t m_port = 0;
    std::string m_output;
};
