// zdrdl on the engine path as a user runs it: a real zdrdl process whose
// service installs the real engine from a signed update site that a real
// nginx serves, with the files from the same nginx. The resume question is
// answered by typing on a pseudo-terminal.

#include "EngineProcess.h"
#include "EngineSite.h"
#include "NginxProcess.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

int ExitStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class ZdrdlEngineTest : public testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ZDR_NO_ENGINE");
        base = std::string(getenv("HOME")) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = base + "/client/";
        fs::create_directories(base);
        // The engine's own connectivity test: this file means online.
        WriteFile(base + "/online", "");
        engineExe = EngineSite::InstalledEngine(getenv("XDG_DATA_HOME"));
        environment = {"ZDR_ENGINE_PORT=" + std::to_string(EngineProcess::FreePort()),
                       "ZDR_ENGINE_CONNECTIVITY_FILE=" + base + "/online"};
    }
    void TearDown() override
    {
        EngineSite::StopEngines(engineExe);
        nginx.Stop();
    }

    // nginx with the update site and a file list naming the files served
    // under /files/.
    void StartServers(const std::string& extraConfig, const std::vector<std::pair<std::string, size_t>>& files)
    {
        nginx.AddServerConfig(extraConfig);
        ASSERT_TRUE(nginx.Start(base + "/nginx"));
        ASSERT_TRUE(EngineSite::Publish(nginx, base + "/release"));
        std::string list;
        for (const auto& [name, size] : files) {
            contents[name] = RandomBytes(size, static_cast<unsigned>(size + name.size()));
            WriteFile(nginx.Root() + "/files/" + name, contents[name]);
            list += nginx.Url("/files/" + name) + "\r\n";
        }
        WriteFile(nginx.Root() + "/list.txt", list);
        EngineSite::AllowNginx(nginx.Root());
        environment.push_back("ZDR_UPDATE_HOST=127.0.0.1:" + std::to_string(nginx.Port()));
    }

    std::vector<char*> Envp(std::vector<std::string>& storage) const
    {
        // Ours, with the test's entries replacing inherited ones.
        storage.clear();
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('=') + 1);
            bool replaced = false;
            for (const std::string& extra : environment) replaced = replaced || extra.rfind(name, 0) == 0;
            if (!replaced) storage.push_back(entry);
        }
        storage.insert(storage.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (std::string& entry : storage) envp.push_back(entry.data());
        envp.push_back(nullptr);
        return envp;
    }
    std::vector<std::string> Args(const std::vector<std::string>& options) const
    {
        std::vector<std::string> args = {ZDR_ZDRDL_PATH, "--folder", folder};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(nginx.Url("/list.txt"));
        return args;
    }

    // zdrdl with stdin from /dev/null and its output in files; stop(err),
    // where the progress goes, looked at every 50 ms, sends SIGINT when it
    // answers true.
    Outcome Run(const std::vector<std::string>& options, const std::function<bool(const std::string&)>& stop = nullptr)
    {
        const std::string out = base + "/out.txt", err = base + "/err.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> args = Args(options), storage;
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp = Envp(storage);
        pid_t pid = -1;
        Outcome outcome;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return outcome;
        int status = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(180);
        bool ended = false;
        while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && Clock::now() < deadline) {
            if (stop && stop(ReadFile(err))) {
                kill(pid, SIGINT);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended && waitpid(pid, &status, WNOHANG) != pid) {
            // Interrupted: it has 10 s to stop; past the bound it is killed.
            const auto bound = Clock::now() + std::chrono::seconds(10);
            while (waitpid(pid, &status, WNOHANG) != pid) {
                if (Clock::now() > bound) {
                    kill(pid, SIGKILL);
                    waitpid(pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        outcome.status = ExitStatus(status);
        outcome.out = ReadFile(out);
        outcome.err = ReadFile(err);
        return outcome;
    }

    // zdrdl on a pseudo-terminal: each time the output shows the next
    // question of answers, its answer is typed.
    Outcome RunOnTerminal(const std::vector<std::string>& options,
                          const std::vector<std::pair<std::string, std::string>>& answers)
    {
        std::vector<std::string> args = Args(options), storage;
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp = Envp(storage);
        Outcome outcome;
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid < 0) return outcome;
        if (pid == 0) {
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        size_t next = 0;
        size_t searchedFrom = 0;
        int status = 0;
        bool ended = false;
        const auto deadline = Clock::now() + std::chrono::seconds(180);
        while (Clock::now() < deadline) {
            pollfd input{master, POLLIN, 0};
            if (poll(&input, 1, 50) > 0) {
                char buffer[4096];
                const ssize_t got = read(master, buffer, sizeof buffer);
                // EIO: the child has gone and the terminal has no writer.
                if (got <= 0) break;
                outcome.out.append(buffer, static_cast<size_t>(got));
            }
            if (next < answers.size()) {
                const size_t at = outcome.out.find(answers[next].first, searchedFrom);
                if (at != std::string::npos) {
                    searchedFrom = at + answers[next].first.size();
                    const std::string typed = answers[next].second;
                    EXPECT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
                    ++next;
                }
            }
            if (!ended && waitpid(pid, &status, WNOHANG) == pid) ended = true;
        }
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        close(master);
        EXPECT_EQ(next, answers.size()) << "not every question came:\n" << outcome.out;
        outcome.status = ExitStatus(status);
        return outcome;
    }

    // The last percentage of the output's status lines.
    static int LastPercent(const std::string& out)
    {
        const size_t at = out.rfind("%  ");
        if (at == std::string::npos || at < 3) return 0;
        return atoi(out.substr(at - 3, 3).c_str());
    }

    std::string base;
    std::string folder;
    std::string engineExe;
    std::vector<std::string> environment;
    std::map<std::string, std::string> contents;
    NginxProcess nginx;
};

} // namespace

TEST_F(ZdrdlEngineTest, DownloadsOnTheEngineItInstallsAndSaysSo)
{
    StartServers("", {{"a.bin", 1}, {"b.bin", 300000}, {"c.bin", 2500000}});
    const Outcome run = Run({});
    ASSERT_EQ(run.status, 0) << run.out << run.err << ReadLog();
    for (const auto& [name, bytes] : contents) {
        EXPECT_TRUE(ReadFile(folder + name) == bytes) << name;
        EXPECT_GE(EngineSite::EngineFetches(nginx, "/files/" + name), 1u) << name;
    }
    // The update: its start, its file with the bytes so far, its end.
    const size_t begun = run.out.find("Download engine: updating from the update site\n");
    const size_t progress = run.err.find("updating engine: ZDRDownloadV32.exe");
    const size_t ready = run.out.find("Download engine: up to date and started; the download runs on the engine\n");
    ASSERT_NE(begun, std::string::npos) << run.out;
    ASSERT_NE(progress, std::string::npos) << run.err;
    ASSERT_NE(ready, std::string::npos) << run.out;
    EXPECT_LT(begun, ready);
    EXPECT_NE(run.err.find(" of ", progress), std::string::npos) << run.err;
    // The status lines (on standard error) and the last line name the path;
    // the 100 % line comes once.
    const size_t full = run.err.find("100%");
    EXPECT_NE(full, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("100%", full + 1), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("  via engine"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("via plain"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("Download complete: 3 files in " + folder + " (via engine)\n"), std::string::npos) << run.out;
    EXPECT_TRUE(ReadFile(engineExe) == ReadFile(ZDR_ENGINE_PATH));
    EXPECT_EQ(ReadLog().find("CPlatFormDownloader Begin"), std::string::npos);
}

TEST_F(ZdrdlEngineTest, AnInterruptedDownloadIsResumedByTheAnswersTypedOnTheTerminal)
{
    const size_t size = 3 << 20;
    StartServers("    location /files/ { limit_rate 400k; }\n", {{"big.bin", size}});
    // The first run is stopped with Ctrl-C a third of the way in; the
    // engine keeps the part and its control file.
    const Outcome first = Run({}, [&](const std::string& out) {
        return LastPercent(out) >= 30 && fs::exists(folder + "big.bin.zdrctl");
    });
    ASSERT_EQ(first.status, 130) << first.out << first.err;
    ASSERT_TRUE(fs::exists(folder + "big.bin.zdrpart"));
    ASSERT_TRUE(fs::exists(folder + "big.bin.zdrctl"));
    ASSERT_FALSE(fs::exists(folder + "big.bin"));
    const auto logged = Clock::now() + std::chrono::seconds(10);
    while (EngineSite::BytesSent(nginx, "/files/big.bin") < 500000 && Clock::now() < logged)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const long long firstBytes = EngineSite::BytesSent(nginx, "/files/big.bin");
    ASSERT_GT(firstBytes, 500000);

    // The second run asks on its terminal: yes, and for every file.
    const Outcome second = RunOnTerminal({}, {{"Resume it? [y/n] ", "y\n"},
                                              {"Apply this answer to every file of the download? [y/n] ", "y\n"}});
    ASSERT_EQ(second.status, 0) << second.out << ReadLog();
    // The question said which file and how much of it was there.
    EXPECT_NE(second.out.find("A partial download of this download's files exists: big.bin, "), std::string::npos)
        << second.out;
    EXPECT_NE(second.out.find(" of 3.00 MB.\r\n"), std::string::npos) << second.out;
    EXPECT_NE(second.out.find("A partial download exists: resuming it"), std::string::npos) << second.out;
    EXPECT_NE(second.out.find("via engine"), std::string::npos) << second.out; // a terminal shows both streams
    for (const auto& [name, bytes] : contents) EXPECT_TRUE(ReadFile(folder + name) == bytes) << name;
    EXPECT_FALSE(fs::exists(folder + "big.bin.zdrctl"));
    // Only the rest came again.
    const long long secondBytes = EngineSite::BytesSent(nginx, "/files/big.bin") - firstBytes;
    EXPECT_LT(secondBytes, static_cast<long long>(size) - 500000) << "first " << firstBytes;
    EXPECT_EQ(secondBytes + firstBytes >= static_cast<long long>(size), true);
}

TEST_F(ZdrdlEngineTest, WithoutATerminalOrAFlagThePartIsResumedAsBefore)
{
    const size_t size = 3 << 20;
    StartServers("    location /files/ { limit_rate 400k; }\n", {{"big.bin", size}});
    const Outcome first = Run({}, [&](const std::string& out) {
        return LastPercent(out) >= 30 && fs::exists(folder + "big.bin.zdrctl");
    });
    ASSERT_EQ(first.status, 130) << first.out << first.err;
    const auto logged = Clock::now() + std::chrono::seconds(10);
    while (EngineSite::BytesSent(nginx, "/files/big.bin") < 500000 && Clock::now() < logged)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const long long firstBytes = EngineSite::BytesSent(nginx, "/files/big.bin");
    const Outcome second = Run({});
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_EQ(second.out.find("[y/n]"), std::string::npos) << second.out;
    EXPECT_NE(second.out.find("A partial download exists: resuming it\n"), std::string::npos) << second.out;
    EXPECT_TRUE(ReadFile(folder + "big.bin") == contents["big.bin"]);
    EXPECT_LT(EngineSite::BytesSent(nginx, "/files/big.bin") - firstBytes, static_cast<long long>(size) - 500000);
}

// `zdrdl | cat`: the engine zdrdl's service started stays up after zdrdl
// ends (it waits idle for clients), but holds nothing of zdrdl's output, so
// the pipe ends as soon as zdrdl does.
TEST_F(ZdrdlEngineTest, APipeFromZdrdlEndsWhenZdrdlEnds)
{
    StartServers("", {{"a.bin", 1000}});
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    std::vector<std::string> args = Args({}), storage;
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp = Envp(storage);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string output;
    bool ended = false, closed = false;
    int status = 0;
    Clock::time_point endedAt{};
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    // Until both zdrdl and the pipe have ended, or the pipe outlived zdrdl by 2 s.
    while (!(closed && ended) && Clock::now() < deadline && (!ended || Clock::now() - endedAt < std::chrono::seconds(2))) {
        pollfd readable{pipeEnds[0], POLLIN, 0};
        // Once the pipe has ended, only zdrdl's end is looked for.
        if (poll(&readable, closed ? 0 : 1, 50) > 0) {
            char buffer[4096];
            const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
            if (got <= 0) closed = true;
            else output.append(buffer, static_cast<size_t>(got));
        }
        if (!ended && waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            endedAt = Clock::now();
        }
    }
    close(pipeEnds[0]);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ended) << output;
    EXPECT_EQ(ExitStatus(status), 0) << output;
    EXPECT_TRUE(closed) << "the pipe was still held 2 s after zdrdl ended:\n" << output;
    EXPECT_NE(output.find("(via engine)"), std::string::npos) << output;
    // The engine is still up, serving the next run.
    EXPECT_FALSE(EngineSite::EnginePids(engineExe).empty());
}
