#include "platform/FileSystem.h"
#include "platform/ShellExecute.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

} // namespace
