// zdrdl as a user runs it: a real process against the demo portal.

#include "AgentServerProcess.h"
#include "DemoPortal.h"
#include "LoopbackSockets.h"
#include "ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    double seconds = 0;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ZdrdlTest : public testing::Test {
protected:
    void SetUp() override
    {
        home = getenv("HOME");
        // zdrdl inherits it: these tests are about the plain path.
        setenv("ZDR_NO_ENGINE", "1", 1);
    }
    // Runs argv with extra environment; interruptAfterMs > 0 sends the
    // signal (SIGINT unless told) once the download is under way.
    Outcome Run(std::vector<std::string> args, const std::vector<std::string>& env, int interruptAfterMs = 0,
                int signal = SIGINT)
    {
        const std::string out = home + "/out.txt", err = home + "/err.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // The extra entries replace inherited ones of the same name.
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('=') + 1);
            bool replaced = false;
            for (const std::string& extra : env) replaced = replaced || extra.rfind(name, 0) == 0;
            if (!replaced) environment.push_back(entry);
        }
        environment.insert(environment.end(), env.begin(), env.end());
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = -1;
        Outcome outcome;
        if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) return outcome;
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (interruptAfterMs > 0) {
            // Interrupt only once the download is under way (progress goes
            // to standard error).
            while (ReadFile(err).find("%") == std::string::npos &&
                   std::chrono::steady_clock::now() - start < std::chrono::seconds(60) && waitpid(pid, &status, WNOHANG) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            kill(pid, signal);
        }
        const auto interrupted = std::chrono::steady_clock::now();
        waitpid(pid, &status, 0);
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        outcome.out = ReadFile(out);
        outcome.err = ReadFile(err);
        return outcome;
    }
    std::string home;
};

} // namespace

TEST_F(ZdrdlTest, DownloadsTheDemoClient)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    const std::string folder = home + "/client";
    Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", folder}, {"ZDR_PORTAL_HOST=" + portal.Host()});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    for (const char* name : {"data1.bin", "data2.bin", "data3.bin", "data4.bin", "ZDRSetup.exe"}) {
        const std::string served = portal.Served(std::string("/download/vx2/zdrdownload/client/") + name);
        ASSERT_FALSE(served.empty()) << name;
        EXPECT_TRUE(ReadFile(folder + "/" + name) == served) << name;
    }
    EXPECT_NE(run.err.find("100%"), std::string::npos) << run.err; // progress lines, no terminal: plain lines
    EXPECT_NE(run.out.find("Download complete: 5 files"), std::string::npos) << run.out;
}

TEST_F(ZdrdlTest, WithoutAFolderTheFolderChosenLastIsUsed)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    const std::string saved = home + "/chosen-earlier/";
    const std::string keyFolder = std::string(getenv("XDG_CONFIG_HOME")) + "/Ostrel Inc.";
    std::filesystem::create_directories(keyFolder);
    std::ofstream(keyFolder + "/DownloadPath", std::ios::binary) << "VX2=" << saved << "\n";
    Outcome run = Run({ZDR_ZDRDL_PATH}, {"ZDR_PORTAL_HOST=" + portal.Host()});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    for (const char* name : {"data1.bin", "ZDRSetup.exe"}) {
        const std::string served = portal.Served(std::string("/download/vx2/zdrdownload/client/") + name);
        EXPECT_TRUE(ReadFile(saved + name) == served) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(home + "/tollan/VX2/data1.bin"));
}

TEST_F(ZdrdlTest, DeadPortalFailsWithTheListMessage)
{
    Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", home + "/x", "http://127.0.0.1:1/list.txt"}, {});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("下載檔案目錄失敗"), std::string::npos) << run.err;
    EXPECT_LT(run.seconds, 15);
}

TEST_F(ZdrdlTest, FileListWithAMissingFileFailsTheSizeCheck)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    portal.Publish("/lists/missing.txt", portal.Url("/download/vx2/zdrdownload/client/data1.bin") + "\r\n" +
                                             portal.Url("/download/vx2/zdrdownload/client/gone.bin") + "\r\n");
    Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", home + "/x", portal.Url("/lists/missing.txt")}, {});
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_NE(run.err.find("檔案大小確認失敗"), std::string::npos) << run.err;
    // The message names the log, and the log says what the server answered.
    const std::string log = home + "/.local/state/zdr-downloader/service.log";
    EXPECT_NE(run.err.find("activity log " + log), std::string::npos) << run.err;
    EXPECT_NE(ReadFile(log).find("ResCode:404"), std::string::npos) << ReadFile(log);
}

TEST_F(ZdrdlTest, BinaryFileAsListIsRefused)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    // A binary file read as a list: a line of 1024 bytes or more.
    Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", home + "/x", portal.Url("/download/vx2/zdrdownload/client/data1.bin")},
                      {});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("輸入了錯誤的URL"), std::string::npos) << run.err;
}

TEST_F(ZdrdlTest, TooSmallVolumeGivesTheDiskSpaceMessage)
{
    if (system("unshare -rm true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no private mount namespace here";
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    const std::string folder = home + "/small";
    std::filesystem::create_directories(folder);
    const std::string command = "mount -t tmpfs -o size=4m tmpfs '" + folder + "' && exec '" + ZDR_ZDRDL_PATH +
                                "' --folder '" + folder + "'";
    Outcome run = Run({"unshare", "-rm", "sh", "-c", command}, {"ZDR_PORTAL_HOST=" + portal.Host()});
    EXPECT_EQ(run.status, 5) << run.out << run.err;
    EXPECT_NE(run.err.find("的空間不足"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("done:"), std::string::npos) << run.out;
}

TEST_F(ZdrdlTest, CtrlCStopsAndFinalisesWithinThreeSeconds)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    // Mode 0 keeps the download slow enough to be interrupted in the middle.
    Outcome run = Run({ZDR_ZDRDL_PATH, "--no-engine-consent", "--folder", home + "/slow"},
                      {"ZDR_PORTAL_HOST=" + portal.Host()}, 1);
    EXPECT_EQ(run.status, 130) << run.out << run.err;
    EXPECT_LT(run.seconds, 3.0);
    char path[4096];
    snprintf(path, sizeof path, "%s/.local/state/zdr-downloader/service.log", home.c_str());
    EXPECT_NE(ReadFile(path).find("[MeshpullLib] Finalize End"), std::string::npos);
}

TEST_F(ZdrdlTest, EveryRunsReportsReachTheAgentServerThoughItFinalizesAtOnce)
{
    // zdrdl finalizes right after the completion event: the reports that
    // completion queued must still arrive, run after run.
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    AgentServerProcess agent;
    const std::string output = home + "/zdrdl-agent.jsonl";
    unlink(output.c_str());
    ASSERT_TRUE(agent.Start(output));
    const int runs = 3;
    for (int i = 0; i < runs; ++i) {
        Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", home + "/reported-" + std::to_string(i)},
                          {"ZDR_PORTAL_HOST=" + portal.Host(), "ZDR_AGENT_HOST=127.0.0.1:" + std::to_string(agent.Port())});
        ASSERT_EQ(run.status, 0) << run.out << run.err;
    }
    const std::string reports = agent.Output();
    size_t lines = 0;
    for (size_t at = reports.find('\n'); at != std::string::npos; at = reports.find('\n', at + 1)) ++lines;
    EXPECT_EQ(lines, static_cast<size_t>(runs) * 5) << reports;
}

TEST_F(ZdrdlTest, ListsThatWouldMisleadAreRefusedNamingTheirLine)
{
    struct Case {
        const char* name;
        std::string list;
        std::string message;
    };
    const Case cases[] = {
        {"a NUL byte", std::string("http://127.0.0.1:1/a.bin\nhttp://127.0.0.1:1/b") + std::string(1, '\0') + ".exe\n", "line 2 of the file list holds a NUL byte"},
        {"one name twice", "http://127.0.0.1:1/x/a.bin\nhttp://127.0.0.1:1/y/a.bin|\n",
         "lines 1 and 2 of the file list both name a.bin"},
        {"one name twice, blank lines between", "\n \t\nhttp://127.0.0.1:1/x/a.bin\n  \nhttp://127.0.0.1:1/y/a.bin\n",
         "lines 3 and 5 of the file list both name a.bin"},
        {"only blank lines", " \n\t\n \n", "(the file list names no file)"},
        {"a host alone", "http://127.0.0.1:1/a.bin\n\nhttp://127.0.0.1:1\n",
         "(line 3 of the file list names no file it may write: http://127.0.0.1:1)"},
        {"names that differ in letter case only", "http://127.0.0.1:1/Same.bin\nhttp://127.0.0.1:1/same.bin\n",
         "(lines 1 and 2 of the file list name Same.bin and same.bin, one file here: letter case is not told apart)"},
        {"a folder", "http://127.0.0.1:1/dir/\n", "(line 1 of the file list names no file it may write: http://127.0.0.1:1/dir/)"},
        {"control bytes in a name", "http://127.0.0.1:1/\x1b[2Ja.bin\nhttp://127.0.0.1:1/z/\x1b[2Ja.bin\n",
         "both name \\x1B[2Ja.bin"},
        {"a name of a temporary file", "http://127.0.0.1:1/a.bin\nhttp://127.0.0.1:1/b.bin\nhttp://127.0.0.1:1/a.bin.zdrpart\n",
         "line 3 of the file list names a.bin.zdrpart, a temporary file of line 1"},
        {"a name whose temporary is listed first", "http://127.0.0.1:1/a.bin.part.state\nhttp://127.0.0.1:1/a.bin\n",
         "line 1 of the file list names a.bin.part.state, a temporary file of line 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server({{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(c.list.size()) + "\r\n\r\n" + c.list}});
        Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", home + "/misled", server.Url("/list.txt")}, {});
        EXPECT_EQ(run.status, 3) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        // Nothing the server sent reaches the terminal as a control byte.
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
    }
}

TEST_F(ZdrdlTest, EveryFailureOfTheListOrTheSizeCheckSaysItsUrlAndCause)
{
    const std::string refused = "http://127.0.0.1:" + std::to_string(RefusedPort());
    const std::string notFound = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    ScriptedHttpServer missing({{notFound}});
    const std::string list = refused + "/a.bin\n";
    ScriptedHttpServer lister({{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(list.size()) + "\r\n\r\n" + list}});
    const struct {
        const char* name;
        std::string url;
        int status;
        std::string message;
    } cases[] = {
        {"list refused", refused + "/list.txt", 3,
         "下載檔案目錄失敗 (the file list could not be fetched: " + refused + "/list.txt: connection refused)"},
        {"list not found", missing.Url("/list.txt"), 3,
         "(the file list could not be fetched: " + missing.Url("/list.txt") + ": HTTP 404 Not Found)"},
        {"list URL without a host", "http:///list.txt", 3, "http:///list.txt: no host in the URL)"},
        {"a listed file refused", lister.Url("/list.txt"), 4,
         "檔案大小確認失敗 (the size check failed): " + refused + "/a.bin: connection refused; each file's answer is in"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", home + "/causes", c.url}, {});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

TEST_F(ZdrdlTest, AFolderThatCannotBeUsedSaysWhy)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    const std::string file = home + "/a-file";
    std::ofstream(file) << "x";
    Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", file}, {"ZDR_PORTAL_HOST=" + portal.Host()});
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_NE(run.err.find("the download folder cannot be created: " + file + " is a file, not a folder"), std::string::npos)
        << run.err;
    run = Run({ZDR_ZDRDL_PATH, "--folder", file + "/under"}, {"ZDR_PORTAL_HOST=" + portal.Host()});
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_NE(run.err.find("the download folder cannot be created: " + file + "/under/: "), std::string::npos) << run.err;

    if (system("unshare -rm true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no private mount namespace here";
    const std::string readOnly = home + "/read-only";
    std::filesystem::create_directories(readOnly);
    const std::string command = "mount -t tmpfs -o ro tmpfs '" + readOnly + "' && exec '" + ZDR_ZDRDL_PATH +
                                "' --folder '" + readOnly + "'";
    run = Run({"unshare", "-rm", "sh", "-c", command}, {"ZDR_PORTAL_HOST=" + portal.Host()});
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_NE(run.err.find("the download folder cannot be written: " + readOnly + "/: Read-only file system"),
              std::string::npos)
        << run.err;
}

TEST_F(ZdrdlTest, AListUrlsPasswordIsSentButNeverShownNorLogged)
{
    const std::string list = "http://127.0.0.1:1/a.bin\nhttp://127.0.0.1:1/x/a.bin\n";
    ScriptedHttpServer server({{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(list.size()) + "\r\n\r\n" + list}});
    std::string url = server.Url("/list.txt");
    url.insert(std::string("http://").size(), "zdr:s3cret@");
    Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", home + "/credentials", url}, {});
    EXPECT_EQ(run.status, 3) << run.err;
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("\r\nAuthorization: Basic emRyOnMzY3JldA==\r\n"), std::string::npos) << requests[0];
    EXPECT_NE(run.out.find("File list: http://127.0.0.1:"), std::string::npos) << run.out;
    char log[4096];
    snprintf(log, sizeof log, "%s/.local/share/Ostrel/zdrDownloadV32/config/service.log", home.c_str());
    for (const std::string& shown : {run.out, run.err, ReadFile(log)}) EXPECT_EQ(shown.find("s3cret"), std::string::npos) << shown;
}

TEST_F(ZdrdlTest, DownloadsTheDemoClientOverHttpsFromAPortalItsCertificateAuthorityTrusts)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start(true));
    const std::string folder = home + "/tls-client";
    Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", folder, portal.FileListUrl()}, {"SSL_CERT_FILE=" + portal.CaFile()});
    char log[4096];
    snprintf(log, sizeof log, "%s/.local/state/zdr-downloader/service.log", home.c_str());
    ASSERT_EQ(run.status, 0) << run.out << run.err << ReadFile(log);
    for (const char* name : {"data1.bin", "data2.bin", "data3.bin", "data4.bin", "ZDRSetup.exe"}) {
        const std::string served = portal.Served(std::string("/download/vx2/zdrdownload/client/") + name);
        EXPECT_TRUE(ReadFile(folder + "/" + name) == served) << name;
    }
}

TEST_F(ZdrdlTest, AnHttpsPortalWhoseCertificateIsNotTrustedGivesNothing)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start(true));
    const std::string folder = home + "/untrusted";
    // An empty trust store: the portal's own authority is unknown.
    Outcome run = Run({ZDR_ZDRDL_PATH, "--folder", folder, portal.FileListUrl()}, {"SSL_CERT_FILE=/dev/null"});
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_NE(run.err.find("下載檔案目錄失敗"), std::string::npos) << run.err;
    // The message carries the verifier's reason, not only the log.
    EXPECT_NE(run.err.find(": TLS certificate of 127.0.0.1 not accepted: verify result "), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder + "/data1.bin"));
    char path[4096];
    snprintf(path, sizeof path, "%s/.local/state/zdr-downloader/service.log", home.c_str());
    EXPECT_NE(ReadFile(path).find("TLS certificate of 127.0.0.1 not accepted: verify result"), std::string::npos)
        << ReadFile(path);
}

TEST_F(ZdrdlTest, NoResumeStartsOverAPartThatWouldOtherwiseBeResumed)
{
    // A part an earlier run left, with a record the server still confirms:
    // a normal run would resume it. Its bytes are not the server's, so only a
    // fresh start gives the server's file.
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    const std::string path = "/download/vx2/zdrdownload/client/data1.bin";
    const std::string served = portal.Served(path);
    ASSERT_GT(served.size(), 2u);
    std::string entry;
    std::istringstream list(portal.Served("/download/vx2/zdrdownload/filelist.txt"));
    for (std::string line; std::getline(list, line);)
        if (line.find("/data1.bin") != std::string::npos) entry = line.substr(0, line.find_last_not_of("\r") + 1);
    ASSERT_FALSE(entry.empty());
    std::string etag;
    FILE* head = popen(("curl -sI '" + portal.Url(path) + "'").c_str(), "r");
    ASSERT_NE(head, nullptr);
    for (char line[512]; fgets(line, sizeof line, head);)
        if (strncasecmp(line, "ETag:", 5) == 0) etag = std::string(line + 5).substr(1, strcspn(line + 6, "\r\n"));
    pclose(head);
    ASSERT_FALSE(etag.empty());

    const std::string folder = home + "/no-resume";
    std::filesystem::create_directories(folder);
    const std::string part = folder + "/data1.bin.part";
    std::ofstream(part, std::ios::binary) << std::string(served.size() / 2, 'x');
    std::ofstream(part + ".state", std::ios::binary)
        << "url=" << entry << "\ntotal=" << served.size() << "\nvalidator=" << etag << "\n";

    Outcome run = Run({ZDR_ZDRDL_PATH, "--no-resume", "--folder", folder, portal.FileListUrl()}, {});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Partial download discarded"), std::string::npos) << run.out;
    EXPECT_TRUE(ReadFile(folder + "/data1.bin") == served);
    EXPECT_FALSE(std::filesystem::exists(part));
    EXPECT_FALSE(std::filesystem::exists(part + ".state"));
}

TEST_F(ZdrdlTest, SigtermStopsWithTheUsualStatusAndKeepsThePartsForResume)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    const std::string folder = home + "/terminated";
    Outcome run = Run({ZDR_ZDRDL_PATH, "--no-engine-consent", "--folder", folder}, {"ZDR_PORTAL_HOST=" + portal.Host()}, 1,
                      SIGTERM);
    EXPECT_EQ(run.status, 143) << run.out << run.err;
    EXPECT_LT(run.seconds, 3.0);
    EXPECT_NE(run.err.find("zdrdl: interrupted"), std::string::npos) << run.err;
    // The part of the file under way stays for the next run.
    bool part = false;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        part = part || entry.path().extension() == ".part";
    EXPECT_TRUE(part);
}

// A bad command line: one line naming the fault and where help is, not the
// whole usage. --version: every part's version.
TEST_F(ZdrdlTest, ABadOptionGetsOneLineAndVersionNamesEachPart)
{
    Outcome bad = Run({ZDR_ZDRDL_PATH, "--bogus"}, {});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "zdrdl: unknown option --bogus\nzdrdl: try --help\n");
    EXPECT_EQ(bad.out, "");
    Outcome version = Run({ZDR_ZDRDL_PATH, "--version"}, {});
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out.rfind("zdrdl ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find("\ndownload service "), std::string::npos) << version.out;
    EXPECT_NE(version.out.find("\ndownload engine"), std::string::npos) << version.out;
}

// --no-report: the run's transfers are not reported (the next run's are, to
// the same agent server, so it was there to hear them).
TEST_F(ZdrdlTest, NoReportSendsNothingToTheAgentServer)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    AgentServerProcess agent;
    const std::string output = home + "/zdrdl-no-report.jsonl";
    unlink(output.c_str());
    ASSERT_TRUE(agent.Start(output));
    const std::vector<std::string> env = {"ZDR_PORTAL_HOST=" + portal.Host(),
                                          "ZDR_AGENT_HOST=127.0.0.1:" + std::to_string(agent.Port())};
    Outcome quiet = Run({ZDR_ZDRDL_PATH, "--no-report", "--folder", home + "/unreported"}, env);
    ASSERT_EQ(quiet.status, 0) << quiet.out << quiet.err;
    char log[4096];
    snprintf(log, sizeof log, "%s/.local/state/zdr-downloader/service.log", home.c_str());
    EXPECT_NE(ReadFile(log).find("[MeshpullLib] Report off (ZDR_NO_REPORT)"), std::string::npos);
    Outcome reported = Run({ZDR_ZDRDL_PATH, "--folder", home + "/reported"}, env);
    ASSERT_EQ(reported.status, 0) << reported.out << reported.err;
    const std::string reports = agent.Output();
    size_t lines = 0;
    for (size_t at = reports.find('\n'); at != std::string::npos; at = reports.find('\n', at + 1)) ++lines;
    EXPECT_EQ(lines, 5u) << reports;
}

// -q: nothing but what went wrong; --progress=none: the messages without
// the status lines.
TEST_F(ZdrdlTest, QuietAndProgressNoneLeaveOutWhatTheySay)
{
    DemoPortal portal;
    ASSERT_TRUE(portal.Start());
    const std::vector<std::string> env = {"ZDR_PORTAL_HOST=" + portal.Host()};
    Outcome quiet = Run({ZDR_ZDRDL_PATH, "-q", "--folder", home + "/quiet"}, env);
    ASSERT_EQ(quiet.status, 0) << quiet.out << quiet.err;
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.err, "");
    Outcome silent = Run({ZDR_ZDRDL_PATH, "--progress=none", "--folder", home + "/no-progress"}, env);
    ASSERT_EQ(silent.status, 0) << silent.out << silent.err;
    EXPECT_NE(silent.out.find("Download complete: 5 files"), std::string::npos) << silent.out;
    EXPECT_EQ(silent.err, "");
}
