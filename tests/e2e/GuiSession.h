#pragma once
// A private X display (Xvfb) for whole-program tests, with the programs
// started on it, xdotool to find windows and click, and ImageMagick's
// import for screenshots. Everything started here is stopped with it.

#include "PrivateXvfb.h"
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

// A screenshot as 8-bit RGB.
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    bool Ok() const { return width > 0 && height > 0; }
    const unsigned char* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    // Pixels of the rectangle that differ from the same pixels of other.
    int Differing(const Shot& other, int x0, int y0, int w, int h) const
    {
        int count = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                if (memcmp(At(x, y), other.At(x, y), 3) != 0) ++count;
        return count;
    }
    // Pixels of the rectangle that differ from its top-left pixel: text or a
    // picture drawn there.
    int Varied(int x0, int y0, int w, int h) const
    {
        int count = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                if (memcmp(At(x, y), At(x0, y0), 3) != 0) ++count;
        return count;
    }
};

class GuiSession {
public:
    ~GuiSession()
    {
        for (pid_t pid : m_programs) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (m_xvfb > 0) {
            kill(m_xvfb, SIGTERM);
            waitpid(m_xvfb, nullptr, 0);
        }
    }

    bool StartDisplay()
    {
        m_xvfb = StartPrivateXvfb(&m_display);
        return !m_display.empty();
    }

    // Starts program on the display with these variables set (on top of ours);
    // its output goes to log.
    pid_t Launch(const std::string& program, const std::map<std::string, std::string>& variables,
                 const std::string& log)
    {
        std::map<std::string, std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const size_t eq = entry.find('=');
            if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        env["DISPLAY"] = m_display;
        env["NO_AT_BRIDGE"] = "1";
        env["GDK_BACKEND"] = "x11";
        for (const auto& [name, value] : variables) env[name] = value;
        std::vector<std::string> entries;
        for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (std::string& entry : entries) envp.push_back(entry.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::string path = program;
        char* argv[] = {path.data(), nullptr};
        pid_t pid = 0;
        const int result = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (result != 0) return -1;
        m_programs.push_back(pid);
        return pid;
    }

    // Output of a shell command run against the display.
    std::string Run(const std::string& command) const
    {
        const std::string full = "DISPLAY=" + m_display + " " + command + " 2>/dev/null";
        FILE* pipe = popen(full.c_str(), "r");
        if (!pipe) return {};
        std::string output;
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
        pclose(pipe);
        return output;
    }

    // Visible windows of process pid whose title matches the pattern.
    std::vector<std::string> Windows(pid_t pid, const std::string& titlePattern) const
    {
        std::istringstream ids(Run("xdotool search --all --onlyvisible --pid " + std::to_string(pid) + " --name '" +
                                   titlePattern + "'"));
        std::vector<std::string> windows;
        for (std::string id; ids >> id;) windows.push_back(id);
        return windows;
    }

    std::pair<int, int> Size(const std::string& window) const
    {
        std::istringstream lines(Run("xdotool getwindowgeometry --shell " + window));
        int width = 0, height = 0;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("WIDTH=", 0) == 0) width = atoi(line.c_str() + 6);
            if (line.rfind("HEIGHT=", 0) == 0) height = atoi(line.c_str() + 7);
        }
        return {width, height};
    }

    // Clicks there, then leaves the pointer where it hovers over nothing, so
    // that no button shows its hover picture in the next screenshot.
    void Click(const std::string& window, int x, int y) const
    {
        Run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
            " click 1 mousemove 1270 1010");
    }

    // The window's content, also kept as a PNG at keepAs when given.
    Shot Screenshot(const std::string& window, const std::string& keepAs = "") const
    {
        if (!keepAs.empty()) Run("import -window " + window + " '" + keepAs + "'");
        const std::string command = "DISPLAY=" + m_display + " import -window " + window + " -depth 8 ppm:- 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        Shot shot;
        if (!pipe) return shot;
        char magic[3] = {};
        int maxValue = 0;
        if (fscanf(pipe, "%2s %d %d %d", magic, &shot.width, &shot.height, &maxValue) == 4 &&
            std::string(magic) == "P6" && maxValue == 255) {
            fgetc(pipe);
            shot.rgb.resize(static_cast<size_t>(shot.width) * shot.height * 3);
            if (fread(shot.rgb.data(), 1, shot.rgb.size(), pipe) != shot.rgb.size()) shot = Shot();
        } else {
            shot = Shot();
        }
        pclose(pipe);
        return shot;
    }

    // Polls until done() holds; false after the time limit.
    static bool WaitFor(const std::function<bool()>& done, int seconds)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }

    // The first visible window of program whose title matches; empty when
    // none came within the time limit.
    std::string WaitForWindow(pid_t program, const std::string& titlePattern, int seconds)
    {
        std::string found;
        WaitFor(
            [&] {
                const auto windows = Windows(program, titlePattern);
                if (!windows.empty()) found = windows.front();
                return !found.empty();
            },
            seconds);
        return found;
    }

    // True, with the exit status, once pid has ended (within seconds).
    bool WaitForExit(pid_t pid, int seconds, int* status)
    {
        bool ended = WaitFor([&] { return waitpid(pid, status, WNOHANG) == pid; }, seconds);
        if (ended) m_programs.erase(std::remove(m_programs.begin(), m_programs.end(), pid), m_programs.end());
        return ended;
    }

    static bool Running(pid_t pid) { return kill(pid, 0) == 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

private:
    pid_t m_xvfb = 0;
    std::string m_display;
    std::vector<pid_t> m_programs;
};
