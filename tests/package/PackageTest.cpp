// The Debian packages as a user gets them: made by cpack from this build,
// unpacked into a scratch root, their files and metadata checked, and the
// packaged programs run from there: zdrdl downloads the demo portal's client
// through the engine, which its service installs from an update site that the
// packaged update-site builder wrote.

#include "DemoPortal.h"
#include "EngineProcess.h"
#include "EngineSite.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1; // -1: did not start, or killed at the bound
    std::string out;
    std::string err;
};

// Runs args with extra environment entries (added to ours), standard input
// from /dev/null, for at most bound; its output is kept under folder.
Outcome RunFor(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
            const std::string& folder, std::chrono::seconds bound = std::chrono::seconds(20))
{
    const std::string out = folder + "/run.out", err = folder + "/run.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> storage(args);
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStorage;
    for (char** e = environ; *e; ++e) envStorage.emplace_back(*e);
    envStorage.insert(envStorage.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (std::string& entry : envStorage) envp.push_back(entry.data());
    envp.push_back(nullptr);
    Outcome outcome;
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return outcome;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (status != -1 && WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    outcome.out = ReadFile(out);
    outcome.err = ReadFile(err);
    return outcome;
}

class PackageTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_base = std::string(getenv("HOME")) + "/package";
        fs::create_directories(s_base);
        s_made = RunFor({ZDR_CPACK_COMMAND, "--config", ZDR_CPACK_CONFIG, "-G", "DEB", "-B", s_base + "/out"}, {},
                     s_base, std::chrono::seconds(240));
        for (const char* name : {"zdr-downloader", "zdr-downloader-tools"}) {
            const std::string deb = s_base + "/out/" + name + "_" + ZDR_PROJECT_VERSION + "_amd64.deb";
            if (fs::exists(deb)) RunProgram({"dpkg-deb", "-x", deb, s_base + "/root"});
        }
    }

    static std::string Deb(const std::string& name)
    {
        return s_base + "/out/" + name + "_" + ZDR_PROJECT_VERSION + "_amd64.deb";
    }
    static std::string Root(const std::string& path) { return s_base + "/root" + path; }
    static std::string Field(const std::string& name, const char* field)
    {
        return RunFor({"dpkg-deb", "-f", Deb(name), field}, {}, s_base).out;
    }

    static std::string s_base;
    static Outcome s_made;
};

std::string PackageTest::s_base;
Outcome PackageTest::s_made;

TEST_F(PackageTest, CpackMakesBothPackages)
{
    ASSERT_EQ(s_made.status, 0) << s_made.out << s_made.err;
    EXPECT_TRUE(fs::exists(Deb("zdr-downloader")));
    EXPECT_TRUE(fs::exists(Deb("zdr-downloader-tools")));
    EXPECT_EQ(Field("zdr-downloader", "Version"), std::string(ZDR_PROJECT_VERSION) + "\n");
    EXPECT_EQ(Field("zdr-downloader-tools", "Section"), "net\n");
}

TEST_F(PackageTest, DependenciesAreThoseOfTheProgramsThemselves)
{
    ASSERT_EQ(s_made.status, 0);
    // Found by dpkg-shlibdeps: the C library, the toolkit, TLS.
    const std::string depends = Field("zdr-downloader", "Depends");
    EXPECT_NE(depends.find("libc6 (>="), std::string::npos) << depends;
    EXPECT_NE(depends.find("libwxgtk3.2"), std::string::npos) << depends;
    EXPECT_NE(depends.find("libssl3 (>="), std::string::npos) << depends;
    // The programs the update-site builder starts by name.
    const std::string tools = Field("zdr-downloader-tools", "Depends");
    EXPECT_NE(tools.find("zip"), std::string::npos) << tools;
    EXPECT_NE(tools.find("p7zip-full"), std::string::npos) << tools;
    EXPECT_NE(tools.find("libc6 (>="), std::string::npos) << tools;
}

TEST_F(PackageTest, FilesStandWhereADebianDesktopLooksForThem)
{
    ASSERT_EQ(s_made.status, 0);
    const char* files[] = {
        "/usr/bin/zdr-downloader",
        "/usr/bin/zdrdl",
        "/usr/bin/zdr-agent-server",
        "/usr/bin/zdr-update-site",
        "/usr/share/applications/zdr-downloader.desktop",
        "/usr/share/metainfo/example.ostrel.ZDRDownloader.metainfo.xml",
        "/usr/share/icons/hicolor/48x48/apps/zdr-downloader.png",
        "/usr/share/icons/hicolor/64x64/apps/zdr-downloader.png",
        "/usr/share/icons/hicolor/128x128/apps/zdr-downloader.png",
        "/usr/share/icons/hicolor/256x256/apps/zdr-downloader.png",
        "/usr/share/man/man1/zdrdl.1.gz",
        "/usr/share/man/man1/zdr-downloader.1.gz",
        "/usr/share/man/man1/zdr-agent-server.1.gz",
        "/usr/share/man/man1/zdr-update-site.1.gz",
        "/usr/share/bash-completion/completions/zdrdl",
        "/usr/share/doc/zdr-downloader/copyright",
        "/usr/share/doc/zdr-downloader/changelog.gz",
        "/usr/share/doc/zdr-downloader-tools/copyright",
        "/usr/share/doc/zdr-downloader-tools/changelog.gz",
    };
    for (const char* file : files) EXPECT_TRUE(fs::is_regular_file(Root(file))) << file;
    // The engine reaches users through the signed update site only.
    for (const auto& entry : fs::recursive_directory_iterator(Root("")))
        EXPECT_NE(entry.path().filename(), "ZDRDownloadV32.exe") << entry.path();
    // Every icon is as large as the theme folder it stands in says.
    for (const char* size : {"48", "64", "128", "256"}) {
        const std::string icon = Root(std::string("/usr/share/icons/hicolor/") + size + "x" + size + "/apps/zdr-downloader.png");
        const std::string png = ReadFile(icon);
        ASSERT_GE(png.size(), 24u) << icon;
        const auto word = [&](size_t at) {
            return (unsigned(uint8_t(png[at])) << 24) | (unsigned(uint8_t(png[at + 1])) << 16) |
                   (unsigned(uint8_t(png[at + 2])) << 8) | unsigned(uint8_t(png[at + 3]));
        };
        EXPECT_EQ(std::to_string(word(16)), size) << icon;
        EXPECT_EQ(std::to_string(word(20)), size) << icon;
    }
}

TEST_F(PackageTest, DesktopEntryAndMetainfoValidate)
{
    ASSERT_EQ(s_made.status, 0);
    const Outcome desktop =
        RunFor({"desktop-file-validate", Root("/usr/share/applications/zdr-downloader.desktop")}, {}, s_base);
    EXPECT_EQ(desktop.status, 0) << desktop.out << desktop.err;
    EXPECT_EQ(desktop.out, "") << "desktop-file-validate has remarks";
    const Outcome metainfo = RunFor({"appstreamcli", "validate", "--no-net",
                                  Root("/usr/share/metainfo/example.ostrel.ZDRDownloader.metainfo.xml")},
                                 {}, s_base);
    EXPECT_EQ(metainfo.status, 0) << metainfo.out << metainfo.err;
    const std::string entry = ReadFile(Root("/usr/share/applications/zdr-downloader.desktop"));
    EXPECT_NE(entry.find("\nCategories=Network;FileTransfer;\n"), std::string::npos);
    EXPECT_NE(entry.find("\nStartupWMClass=zdr-downloader\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=zdr-downloader\n"), std::string::npos);
}

TEST_F(PackageTest, PackagedZdrdlSaysItsVersion)
{
    ASSERT_EQ(s_made.status, 0);
    const Outcome version = RunFor({Root("/usr/bin/zdrdl"), "--version"}, {}, s_base);
    EXPECT_EQ(version.status, 0) << version.err;
    // Its own version first; the service's and the engine's follow.
    EXPECT_EQ(version.out.rfind(std::string("zdrdl ") + ZDR_PROJECT_VERSION + "\n", 0), 0u) << version.out;
}

// The options zdrdl's own help names ("  --folder DIR  ...", "  -h, --help").
std::vector<std::string> HelpOptions(const std::string& help)
{
    std::vector<std::string> options;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  -", 0) != 0) continue;
        std::istringstream words(line);
        for (std::string word; words >> word && word[0] == '-';) {
            if (word.back() == ',') word.pop_back();
            options.push_back(word);
        }
    }
    return options;
}

TEST_F(PackageTest, ManualPageAndCompletionKnowEveryOptionOfZdrdl)
{
    ASSERT_EQ(s_made.status, 0);
    const Outcome help = RunFor({Root("/usr/bin/zdrdl"), "--help"}, {}, s_base);
    ASSERT_EQ(help.status, 0);
    const std::vector<std::string> options = HelpOptions(help.out);
    ASSERT_GE(options.size(), 7u) << help.out;
    // The page's text with roff's escaped hyphens as plain ones.
    std::string page = RunFor({"sh", "-c", "zcat '" + Root("/usr/share/man/man1/zdrdl.1.gz") + "'"}, {}, s_base).out;
    for (size_t at = page.find("\\-"); at != std::string::npos; at = page.find("\\-", at)) page.erase(at, 1);
    for (const char* section : {".SH OPTIONS", ".SH EXIT STATUS", ".SH ENVIRONMENT", ".SH FILES", ".SH EXAMPLES"})
        EXPECT_NE(page.find(section), std::string::npos) << section;
    // An option that takes its value after "=" is found by its name and the "=".
    auto named = [](const std::string& option) { return option.substr(0, option.find('=') + 1); };
    for (const std::string& option : options) EXPECT_NE(page.find(named(option)), std::string::npos) << option;

    // What bash offers after "zdrdl --" and after "--folder ".
    const std::string script = "source /usr/share/bash-completion/bash_completion; source '" +
                               Root("/usr/share/bash-completion/completions/zdrdl") +
                               "'; COMP_WORDS=(zdrdl \"$1\"); COMP_CWORD=1; COMP_LINE=\"zdrdl $1\"; "
                               "COMP_POINT=${#COMP_LINE}; _zdrdl; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const std::string offered = RunFor({"bash", "-c", script, "bash", "--"}, {}, s_base).out;
    for (const std::string& option : options) {
        if (option.rfind("--", 0) != 0) continue;
        const std::string name = named(option);
        const bool takesValue = name.back() == '=';
        EXPECT_NE(offered.find(takesValue ? "\n" + name : option + "\n"), std::string::npos) << option << " in\n" << offered;
    }
    fs::create_directories(s_base + "/pick/games");
    WriteFile(s_base + "/pick/gamefile", "");
    const std::string folders = RunFor({"bash", "-c",
                                        "source /usr/share/bash-completion/bash_completion; source '" +
                                            Root("/usr/share/bash-completion/completions/zdrdl") +
                                            "'; COMP_WORDS=(zdrdl --folder \"$1\"); COMP_CWORD=2; "
                                            "COMP_LINE=\"zdrdl --folder $1\"; COMP_POINT=${#COMP_LINE}; _zdrdl; "
                                            "printf '%s\\n' \"${COMPREPLY[@]}\"",
                                        "bash", s_base + "/pick/game"},
                                       {}, s_base)
                                   .out;
    EXPECT_EQ(folders, s_base + "/pick/games\n") << "folders only";
}

TEST_F(PackageTest, PackagedZdrdlDownloadsFromTheDemoPortalThroughTheEngine)
{
    ASSERT_EQ(s_made.status, 0);
    const std::string work = s_base + "/demo";
    fs::create_directories(work);
    // The portal's nginx serves the update site on a port of its own.
    const uint16_t updatePort = EngineProcess::FreePort();
    setenv("ZDR_DEMO_UPDATE_PORT", std::to_string(updatePort).c_str(), 1);
    DemoPortal portal;
    const bool started = portal.Start();
    unsetenv("ZDR_DEMO_UPDATE_PORT");
    ASSERT_TRUE(started);
    const std::string updateHost = "127.0.0.1:" + std::to_string(updatePort);

    // Published as a maker would, with the packaged update-site builder.
    fs::create_directories(work + "/release");
    fs::copy_file(ZDR_ENGINE_PATH, work + "/release/ZDRDownloadV32.exe");
    const Outcome site = RunFor({Root("/usr/bin/zdr-update-site"), "--key", ZDR_DEMO_SIGNING_KEY, "--engine",
                              work + "/release", "--out", portal.Folder() + "/update", "--base-url",
                              "http://" + updateHost},
                             {}, work, std::chrono::seconds(60));
    ASSERT_EQ(site.status, 0) << site.out << site.err;
    EngineSite::AllowNginx(portal.Folder() + "/update");

    const std::string engineExe = EngineSite::InstalledEngine(getenv("XDG_DATA_HOME"));
    ASSERT_FALSE(fs::exists(engineExe));
    WriteFile(work + "/online", "");
    const std::string folder = work + "/client/";
    const Outcome download =
        RunFor({Root("/usr/bin/zdrdl"), "--folder", folder, portal.FileListUrl()},
            {"ZDR_UPDATE_HOST=" + updateHost, "ZDR_ENGINE_PORT=" + std::to_string(EngineProcess::FreePort()),
             "ZDR_ENGINE_CONNECTIVITY_FILE=" + work + "/online", "ZDR_AGENT_HOST=127.0.0.1:9"},
            work, std::chrono::seconds(120));
    EngineSite::StopEngines(engineExe);
    ASSERT_EQ(download.status, 0) << download.out << download.err;
    EXPECT_TRUE(fs::exists(engineExe)) << "the service installed no engine";
    for (const char* name : {"data1.bin", "data2.bin", "data3.bin", "data4.bin", "ZDRSetup.exe"}) {
        const std::string served = portal.Served(std::string("/download/vx2/zdrdownload/client/") + name);
        ASSERT_FALSE(served.empty()) << name;
        EXPECT_TRUE(ReadFile(folder + name) == served) << name << " differs from the portal's copy";
    }
    const std::string access = ReadFile(portal.Folder() + "/logs/access.log");
    EXPECT_GT(Count(access, "\"ZDRDownloadV32/"), 0u) << "the engine fetched nothing";
    EXPECT_NE(download.out.find("via engine"), std::string::npos) << download.out;
}

} // namespace
