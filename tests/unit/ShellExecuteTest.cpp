#include "platform/FileSystem.h"
#include "platform/ShellExecute.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class ShellExecuteTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zdr-shell-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_oldPath = getenv("PATH") ? getenv("PATH") : "";
    }
    void TearDown() override
    {
        setenv("PATH", m_oldPath.c_str(), 1);
        std::filesystem::remove_all(m_dir);
    }

    // A script that writes its first argument (or "ran") to marker.
    std::string Script(const std::string& name, const std::string& marker, mode_t mode)
    {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path) << "#!/bin/sh\necho \"${1:-ran}\" > '" << marker << "'\n";
        chmod(path.c_str(), mode);
        return path;
    }

    static std::string Read(const std::string& path)
    {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        return line;
    }

    static void Reap(pid_t pid)
    {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::string m_dir;
    std::string m_oldPath;
};

TEST_F(ShellExecuteTest, BothVerbsStartAnExecutableItself)
{
    for (const char* verb : {"runas", "open"}) {
        const std::string marker = m_dir + "/marker-" + verb;
        const std::string program = Script(std::string("setup-") + verb, marker, 0755);
        pid_t pid = 0;
        ASSERT_TRUE(ShellExecuteFile(program, verb, 5000, &pid)) << verb;
        Reap(pid);
        EXPECT_EQ(Read(marker), "ran") << verb;
    }
}

TEST_F(ShellExecuteTest, RunasFailsForAFileThatCannotBeExecuted)
{
    const std::string plain = Script("setup.exe", m_dir + "/never", 0644);
    int error = 0;
    EXPECT_FALSE(ShellExecuteFile(plain, "runas", 5000, nullptr, &error));
    EXPECT_EQ(error, EACCES);
    EXPECT_FALSE(ShellExecuteFile(m_dir + "/missing.exe", "runas", 5000, nullptr, &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(ShellExecuteFile(plain, "print", 5000, nullptr, &error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/never"));
}

TEST_F(ShellExecuteTest, OpenHandsOtherFilesToXdgOpen)
{
    const std::string document = Script("readme.txt", m_dir + "/never", 0644);
    const std::string bin = m_dir + "/bin";
    std::filesystem::create_directory(bin);
    const std::string opened = m_dir + "/opened";
    std::filesystem::rename(Script("xdg-open", opened, 0755), bin + "/xdg-open");
    setenv("PATH", bin.c_str(), 1);
    pid_t pid = 0;
    ASSERT_TRUE(ShellExecuteFile(document, "open", 5000, &pid));
    Reap(pid);
    EXPECT_EQ(Read(opened), document);

    // Without a handler there is nothing to open with.
    setenv("PATH", m_dir.c_str(), 1);
    EXPECT_FALSE(ShellExecuteFile(document, "open", 5000));
}

TEST_F(ShellExecuteTest, MakeExecutableAddsExecuteWhereReadIs)
{
    const std::string file = Script("setup.exe", m_dir + "/never", 0640);
    EXPECT_FALSE(IsExecutableFile(file));
    ASSERT_TRUE(MakeExecutable(file));
    EXPECT_TRUE(IsExecutableFile(file));
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_FALSE(MakeExecutable(m_dir));
    EXPECT_FALSE(MakeExecutable(m_dir + "/missing"));
}

// The readiness wait, with the test program (modes: ready, silent, exit) and
// with scripts that drop the pipe.
class ProgramReadinessTest : public ShellExecuteTest {
protected:
    void SetUp() override
    {
        ShellExecuteTest::SetUp();
        m_marker = m_dir + "/marker";
        setenv("ZDR_TEST_CHILD_MARKER", m_marker.c_str(), 1);
    }
    void TearDown() override
    {
        for (pid_t pid : m_started) kill(pid, SIGKILL);
        for (pid_t pid : m_started) EXPECT_TRUE(Gone(pid)) << "zombie " << pid;
        unsetenv("ZDR_TEST_CHILD_MODE");
        unsetenv("ZDR_TEST_CHILD_MARKER");
        ShellExecuteTest::TearDown();
    }
    StartedProgram Start(const char* mode)
    {
        setenv("ZDR_TEST_CHILD_MODE", mode, 1);
        StartedProgram program;
        EXPECT_TRUE(CreateProgram(ZDR_TEST_CHILD_PATH, &program));
        EXPECT_GT(program.pid, 0);
        EXPECT_GE(program.readyFd, 0);
        if (program.pid > 0) m_started.push_back(program.pid);
        return program;
    }
    // Reaped: not even a zombie answers a signal any more.
    static bool Gone(pid_t pid)
    {
        for (int i = 0; i < 500; ++i) {
            if (kill(pid, 0) != 0 && errno == ESRCH) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string m_marker;
    std::vector<pid_t> m_started;
};

TEST_F(ProgramReadinessTest, AProgramThatSaysReadyIsReady)
{
    // An inherited value is replaced by the pipe's own number.
    setenv(kReadyFdVariable, "99", 1);
    StartedProgram program = Start("ready");
    int status = -1;
    EXPECT_EQ(WaitForInputIdle(&program, 10000, &status), InputIdle::Ready);
    unsetenv(kReadyFdVariable);
    EXPECT_EQ(program.pid, -1);
    EXPECT_EQ(program.readyFd, -1);
    EXPECT_EQ(status, -1);
    // Started with its path alone, and told a descriptor of its own.
    const std::string line = Read(m_marker);
    EXPECT_EQ(line.rfind("ran 1 ", 0), 0u) << line;
    EXPECT_NE(line, "ran 1 99");
    EXPECT_NE(line, "ran 1 -");
}

TEST_F(ProgramReadinessTest, ASilentProgramIsWaitedForUpToTheBound)
{
    StartedProgram program = Start("silent");
    EXPECT_EQ(WaitForInputIdle(&program, 200), InputIdle::TimedOut);
    EXPECT_EQ(Read(m_marker).rfind("ran 1 ", 0), 0u);
}

TEST_F(ProgramReadinessTest, AProgramThatEndsAtOnceHasEnded)
{
    StartedProgram program = Start("exit");
    const pid_t pid = program.pid;
    int status = 0;
    EXPECT_EQ(WaitForInputIdle(&program, 10000, &status), InputIdle::Ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_TRUE(Gone(pid));
}

// A line is readiness unless it says the program failed; what it says of its
// failure is handed back, and it counts as ended even while it lingers.
TEST_F(ProgramReadinessTest, APipeClosedWithoutALineOrAFailureLineIsNoAnswer)
{
    struct Case {
        const char* script;
        int waitMs;
        InputIdle expected;
        const char* failure;
    } cases[] = {
        {"eval \"exec $ZDR_READY_FD>&-\"\nexit 0\n", 10000, InputIdle::Ended, ""},
        {"eval \"exec $ZDR_READY_FD>&-\"\nexec sleep 30\n", 200, InputIdle::TimedOut, ""},
        {"printf 'half' >&$ZDR_READY_FD\nexit 0\n", 10000, InputIdle::Ended, ""},
        {"printf 'ok\\n' >&$ZDR_READY_FD\nexit 0\n", 10000, InputIdle::Ready, ""},
        {"printf 'failed cannot listen\\n' >&$ZDR_READY_FD\nexit 1\n", 10000, InputIdle::Ended, "cannot listen"},
        {"printf 'failed in ' >&$ZDR_READY_FD\nprintf 'two writes\\n' >&$ZDR_READY_FD\nexit 1\n", 10000,
         InputIdle::Ended, "in two writes"},
        {"printf 'failed but lingers\\n' >&$ZDR_READY_FD\nexec sleep 30\n", 300, InputIdle::Ended, "but lingers"},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string path = m_dir + "/script" + std::to_string(index++);
        std::ofstream(path) << "#!/bin/sh\n" << c.script;
        chmod(path.c_str(), 0755);
        StartedProgram program;
        ASSERT_TRUE(ShellExecuteProgram(path, "runas", &program)) << c.script;
        m_started.push_back(program.pid);
        std::string failure;
        EXPECT_EQ(WaitForInputIdle(&program, c.waitMs, nullptr, &failure), c.expected) << c.script;
        EXPECT_EQ(failure, c.failure) << c.script;
    }
}

// A started program may outlive us (the engine waits idle for a minute): it
// must hold nothing of our terminal or of the pipes our output goes to, or a
// `zdrdl | cat` would wait for it. Each start records its descriptors 0-2
// and its session, then says it is ready.
TEST_F(ProgramReadinessTest, AProgramRunsDetachedFromOurTerminalAndPipes)
{
    const std::string path = m_dir + "/detached";
    std::ofstream(path) << "#!/bin/sh\n"
                           "echo \"$(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) $(readlink /proc/$$/fd/2)"
                           " $(cut -d' ' -f6 /proc/$$/stat)-$$\" > \"$ZDR_TEST_CHILD_MARKER\"\n"
                           "printf 'ok\\n' >&$ZDR_READY_FD\n";
    chmod(path.c_str(), 0755);
    const char* verbs[] = {"runas", "open", nullptr};
    for (const char* verb : verbs) {
        DeleteOneFile(m_marker);
        StartedProgram program;
        ASSERT_TRUE(verb ? ShellExecuteProgram(path, verb, &program) : CreateProgram(path, &program))
            << (verb ? verb : "direct");
        const pid_t pid = program.pid;
        m_started.push_back(pid);
        ASSERT_EQ(WaitForInputIdle(&program, 10000), InputIdle::Ready);
        EXPECT_EQ(Read(m_marker), "/dev/null /dev/null /dev/null " + std::to_string(pid) + "-" + std::to_string(pid))
            << (verb ? verb : "direct");
    }
}

TEST_F(ProgramReadinessTest, StartFailuresLeaveNothingBehind)
{
    StartedProgram program;
    int error = 0;
    EXPECT_FALSE(CreateProgram(m_dir + "/missing", &program, &error));
    EXPECT_EQ(error, ENOENT);
    const std::string plain = Script("engine.exe", m_dir + "/never", 0644);
    EXPECT_FALSE(CreateProgram(plain, &program, &error));
    EXPECT_EQ(error, EACCES);
    EXPECT_FALSE(ShellExecuteProgram(plain, "runas", &program, &error));
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(program.pid, -1);
    EXPECT_EQ(program.readyFd, -1);
    // An empty program is nothing to release.
    ReleaseProgram(&program);
    ReleaseProgram(nullptr);
}

} // namespace
