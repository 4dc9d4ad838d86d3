#pragma once
// Our network shaper (tools/net-shaper) as a real process on 127.0.0.1 with
// a free port, in front of a server of the test.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

class NetShaperProcess {
public:
    // False when the shaper did not come up.
    bool Start(uint16_t serverPort, const std::vector<std::string>& shaping)
    {
        int err[2];
        if (pipe(err) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> args = {ZDR_NET_SHAPER_PATH, "--to", std::to_string(serverPort)};
        args.insert(args.end(), shaping.begin(), shaping.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const bool spawned = posix_spawn(&m_pid, ZDR_NET_SHAPER_PATH, &actions, nullptr, argv.data(), environ) == 0;
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
    // True when the shaper ended cleanly on SIGTERM.
    bool Stop()
    {
        if (m_pid <= 0) return true;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    ~NetShaperProcess() { Stop(); }

    uint16_t Port() const { return m_port; }

private:
    pid_t m_pid = -1;
    uint16_t m_port = 0;
};
