// The binary runner: its start chain driven through an injected start
// function (each step's log lines), and real starts of the test program
// (ready, silent up to a shortened bound, ending at once, missing).

#include "engine/ActivityLog.h"
#include "engine/CBinaryExecute_V3.h"
#include "engine/ElevationFlag.h"
#include "engine/IGetPath.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class FolderPaths : public IGetPath {
public:
    explicit FolderPaths(std::string folder) : m_folder(std::move(folder)) {}
    std::string GetBaseFolder() const override { return m_folder; }
    std::string GetEngineFolder() const override { return m_folder; }
    std::string GetEngineExePath() const override { return m_folder + "ZDRDownloadV32.exe"; }

private:
    std::string m_folder;
};

// The messages of the log's lines, without their time.
std::vector<std::string> LogMessages()
{
    char path[4096];
    LogPath(path, sizeof path);
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t end = line.find("] ");
        messages.push_back(end == std::string::npos ? line : line.substr(end + 2));
    }
    return messages;
}

// What the injected start function answers, one entry per attempt.
struct Scripted {
    bool ok;
    int error;
};
std::vector<Scripted> g_script;
std::vector<std::string> g_verbs;
std::vector<pid_t> g_pids;

bool ScriptedStart(const std::string& path, const char* verb, StartedProgram* started, int* error)
{
    g_verbs.push_back(verb ? verb : "direct");
    const size_t attempt = g_verbs.size() - 1;
    if (attempt >= g_script.size() || !g_script[attempt].ok) {
        *error = attempt < g_script.size() ? g_script[attempt].error : EINVAL;
        return false;
    }
    // A success starts the program for real, so the readiness wait runs.
    if (!CreateProgram(path, started, error)) return false;
    g_pids.push_back(started->pid);
    return true;
}

class BinaryRunnerTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zdr-runner-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = std::string(pattern) + "/";
        m_paths = std::make_unique<FolderPaths>(m_dir);
        m_runner = std::make_unique<CBinaryExecute_V3>(m_paths.get());
        m_exe = m_paths->GetEngineExePath();
        m_marker = m_dir + "marker";
        setenv("ZDR_TEST_CHILD_MARKER", m_marker.c_str(), 1);
        setenv("ZDR_TEST_CHILD_MODE", "ready", 1);
        SetElevationFlag(1);
        LogReset();
        g_script.clear();
        g_verbs.clear();
        g_pids.clear();
    }
    void TearDown() override
    {
        for (pid_t pid : g_pids) kill(pid, SIGKILL);
        SetElevationFlag(0);
        unsetenv("ZDR_TEST_CHILD_MARKER");
        unsetenv("ZDR_TEST_CHILD_MODE");
        std::filesystem::remove_all(m_dir);
    }
    void InstallEngine()
    {
        std::filesystem::copy_file(ZDR_TEST_CHILD_PATH, m_exe, std::filesystem::copy_options::overwrite_existing);
    }
    std::string Marker()
    {
        std::ifstream in(m_marker);
        std::string line;
        std::getline(in, line);
        return line;
    }

    std::string m_dir;
    std::unique_ptr<FolderPaths> m_paths;
    std::unique_ptr<CBinaryExecute_V3> m_runner;
    std::string m_exe;
    std::string m_marker;
};

TEST_F(BinaryRunnerTest, TheStartChainAndItsLogLines)
{
    InstallEngine();
    const std::string p = m_exe;
    struct Case {
        const char* name;
        unsigned char elevation;
        std::vector<Scripted> script;
        int result;
        std::vector<std::string> verbs;
        std::vector<std::string> lines;
    } cases[] = {
        {"runas starts", 1, {{true, 0}}, 1, {"runas"},
         {"[MeshpullLib] Execute OK(0)", "[MeshpullLib] Begin WFII", "[MeshpullLib] End WFII"}},
        {"without elevation the first verb is open", 0, {{true, 0}}, 1, {"open"},
         {"[MeshpullLib] Execute OK(0)", "[MeshpullLib] Begin WFII", "[MeshpullLib] End WFII"}},
        {"declined elevation, then open", 1, {{false, 1223}, {true, 0}}, 1, {"runas", "open"},
         {"[MeshpullLib] Execute Fail(0) " + p + ":1223", "[MeshpullLib] Execute OK(1)", "[MeshpullLib] Begin WFII",
          "[MeshpullLib] End WFII"}},
        {"declined, open fails, direct start", 1, {{false, 1223}, {false, ENOENT}, {true, 0}}, 1,
         {"runas", "open", "direct"},
         {"[MeshpullLib] Execute Fail(0) " + p + ":1223", "[MeshpullLib] Execute Fail(1) " + p + ":2",
          "[MeshpullLib] Execute OK(2)", "[MeshpullLib] Begin WFII", "[MeshpullLib] End WFII"}},
        {"declined, then everything fails", 1, {{false, 1223}, {false, ENOENT}, {false, EACCES}}, 0,
         {"runas", "open", "direct"},
         {"[MeshpullLib] Execute Fail(0) " + p + ":1223", "[MeshpullLib] Execute Fail(1) " + p + ":2",
          "[MeshpullLib] Execute Fail(2) " + p + ":13"}},
        {"another failure goes straight to the direct start", 1, {{false, EACCES}, {true, 0}}, 1,
         {"runas", "direct"},
         {"[MeshpullLib] Execute OK(3)", "[MeshpullLib] Begin WFII", "[MeshpullLib] End WFII"}},
        {"and that can fail too", 0, {{false, EACCES}, {false, ENOEXEC}}, 0, {"open", "direct"},
         {"[MeshpullLib] Execute Fail(3) " + p + ":8"}},
    };
    m_runner->SetStartFunction(&ScriptedStart);
    for (const Case& c : cases) {
        LogReset();
        g_verbs.clear();
        g_script = c.script;
        SetElevationFlag(c.elevation);
        EXPECT_EQ(m_runner->Run(""), c.result) << c.name;
        EXPECT_EQ(g_verbs, c.verbs) << c.name;
        EXPECT_EQ(LogMessages(), c.lines) << c.name;
    }
}

TEST_F(BinaryRunnerTest, AMissingExecutableIsNotRun)
{
    m_runner->SetStartFunction(&ScriptedStart);
    EXPECT_EQ(m_runner->Run(""), 0);
    EXPECT_TRUE(g_verbs.empty());
    EXPECT_EQ(LogMessages(), std::vector<std::string>{"[MeshpullLib] Run Binary (no executable file)"});
    std::string path = "unchanged";
    EXPECT_EQ(m_runner->GetExecutable(&path), 0);
    EXPECT_EQ(path, "unchanged");
    FolderPaths nowhere("");
    CBinaryExecute_V3 relative(&nowhere);
    EXPECT_EQ(relative.GetExecutable(&path), 0);
}

TEST_F(BinaryRunnerTest, TheEngineRunsAndSaysItIsReady)
{
    InstallEngine();
    std::string path;
    ASSERT_EQ(m_runner->GetExecutable(&path), 1);
    EXPECT_EQ(path, m_exe);
    std::string commandLine;
    m_runner->MakeCommandLine("--port 38006", &commandLine);
    EXPECT_EQ(commandLine, "--port 38006");
    m_runner->SetStartFunction([](const std::string& exe, const char* verb, StartedProgram* started, int* error) {
        const bool ok = verb ? ShellExecuteProgram(exe, verb, started, error) : CreateProgram(exe, started, error);
        if (ok) g_pids.push_back(started->pid);
        return ok;
    });
    EXPECT_EQ(m_runner->Run("ignored"), 1);
    EXPECT_EQ(Marker().rfind("ran 1 ", 0), 0u) << Marker();
    EXPECT_EQ(LogMessages(), (std::vector<std::string>{"[MeshpullLib] Execute OK(0)", "[MeshpullLib] Begin WFII",
                                                       "[MeshpullLib] End WFII"}));
}

TEST_F(BinaryRunnerTest, ASilentEngineCountsAsStartedAtTheBound)
{
    InstallEngine();
    setenv("ZDR_TEST_CHILD_MODE", "silent", 1);
    m_runner->SetStartFunction(&ScriptedStart);
    g_script = {{true, 0}};
    m_runner->SetReadyWaitMs(300);
    EXPECT_EQ(m_runner->Run(""), 1);
    EXPECT_EQ(Marker().rfind("ran 1 ", 0), 0u);
    ASSERT_EQ(g_pids.size(), 1u);
    EXPECT_EQ(kill(g_pids[0], 0), 0) << "still running";
}

TEST_F(BinaryRunnerTest, AnEngineThatEndsAtOnceWasNotStarted)
{
    InstallEngine();
    setenv("ZDR_TEST_CHILD_MODE", "exit", 1);
    EXPECT_EQ(m_runner->Run(""), 0);
    EXPECT_EQ(Marker().rfind("ran 1 ", 0), 0u);
    EXPECT_EQ(LogMessages(),
              (std::vector<std::string>{"[MeshpullLib] Execute OK(0)", "[MeshpullLib] Begin WFII",
                                        "[MeshpullLib] End WFII",
                                        "[MeshpullLib] Run Binary (ended before ready) " + m_exe + ":3"}));
}

TEST_F(BinaryRunnerTest, AnEngineWithoutTheExecuteBitFailsBothStarts)
{
    std::ofstream(m_exe) << "#!/bin/sh\necho never > '" << m_marker << "'\n";
    EXPECT_EQ(m_runner->Run(""), 0);
    EXPECT_EQ(LogMessages(), std::vector<std::string>{"[MeshpullLib] Execute Fail(3) " + m_exe + ":13"});
    EXPECT_FALSE(std::filesystem::exists(m_marker));
}

TEST_F(BinaryRunnerTest, OneRunnerForTheProcess)
{
    EXPECT_NE(GetBinaryRunner(), nullptr);
    EXPECT_EQ(GetBinaryRunner(), GetBinaryRunner());
}

} // namespace
