// The engine update end to end: zdr-update-site builds a signed site from an
// engine folder, a real nginx serves it, and CEngineLauncher brings a
// private engine folder (XDG_DATA_HOME) up to date and starts the engine
// (the test child, installed as the engine executable). Faults are made by
// changing the served site after it was built.

#include "LoopbackSockets.h"
#include "NginxProcess.h"
#include "engine/ActivityLog.h"
#include "engine/CDownloader.h"
#include "engine/CEngineLauncher.h"
#include "engine/DigestList.h"
#include "engine/IGetPath.h"
#include "engine/ILauncherEventListener.h"
#include "engine/UpdateDescription.h"
#include "engine/UpdateSignature.h"
#include "netlib/core/cpCAutoLock.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/CVyx.h"
#include "platform/MessageLoop.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr const char* kSiteFolder = "/ostrel/zdrdownload/update/v3_32/";






class Recorder : public ILauncherEventListener {
public:
    std::vector<std::string> events;
    int offline = 0;
    void OnUpdateBegin(const char* url, uint32_t, uint32_t) override { events.push_back(std::string("begin ") + url); }
    void OnUpdateProgress(const char*, uint32_t, uint32_t) override {}
    void OnEngineReady() override { events.push_back("ready"); }
    void OnEngineFailed() override { events.push_back("failed"); }
    void OnOffline() override { ++offline; }
    void OnPathFailed(int kind) override { events.push_back("path failed " + std::to_string(kind)); }
    bool Ended() const
    {
        return !events.empty() && (events.back() == "ready" || events.back() == "failed" ||
                                   events.back().rfind("path failed", 0) == 0);
    }
};

class EngineUpdateTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zdr-engine-update-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        chmod(pattern, 0755);
        m_base = std::string(pattern) + "/";
        setenv("XDG_DATA_HOME", (m_base + "data").c_str(), 1);
        // Each test runs in a process of its own, so the log's path follows.
        LogReset();
        m_marker = m_base + "engine-ran";
        setenv("ZDR_TEST_CHILD_MARKER", m_marker.c_str(), 1);
        setenv("ZDR_TEST_CHILD_MODE", "ready", 1);
        ASSERT_TRUE(m_lock.CreateInstance(CLSID_cpCMutex));
        cpCAutoLock lock(m_lock.As<cpCMutex>());
        m_network = std::make_unique<CVyx>(m_lock.As<cpCMutex>());
    }
    void TearDown() override
    {
        StopStartedEngines();
        m_launcher.reset();
        m_network.reset();
        std::error_code ignored;
        fs::remove_all(m_base, ignored);
    }

    // The engine the update started stays up (the test child waits 30 s):
    // end our own children that run from the private engine folder.
    void StopStartedEngines()
    {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/proc", error)) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::error_code ignored;
            const std::string exe = fs::read_symlink(entry.path() / "exe", ignored).string();
            if (exe.rfind(m_base, 0) != 0) continue;
            std::istringstream stat(ReadFile(entry.path().string() + "/stat"));
            std::string pid, command, state;
            pid_t parent = 0;
            stat >> pid >> command >> state >> parent;
            if (parent == getpid()) kill(static_cast<pid_t>(std::stol(pid)), SIGTERM);
        }
    }

    // An engine release: the test child as the engine executable (version
    // note 1.0.0.10) and `extra` more files beside it.
    std::string MakeRelease(int extra)
    {
        const std::string folder = m_base + "release/";
        fs::create_directories(folder);
        fs::copy_file(ZDR_TEST_CHILD_PATH, folder + "ZDRDownloadV32.exe", fs::copy_options::overwrite_existing);
        for (int i = 0; i < extra; ++i) {
            std::string bytes;
            for (int j = 0; j < 5000 + i * 70001; ++j) bytes += static_cast<char>((j * 7 + i) & 0xff);
            WriteFile(folder + "part" + std::to_string(i) + ".dat", bytes);
        }
        return folder;
    }
    // Builds the site into nginx's root; false when the builder failed.
    // sequence: empty takes the builder's default.
    bool BuildSite(NginxProcess& nginx, const std::string& release, const std::string& key = ZDR_DEMO_SIGNING_KEY,
                   const std::string& format = "zip", const std::string& sequence = std::string())
    {
        // nginx serves <folder>/www once started on m_base + "site".
        std::vector<std::string> command = {ZDR_UPDATE_SITE_PATH, "--key", key, "--engine", release, "--out",
                                            m_base + "site/www", "--base-url", nginx.Url(""), "--format", format};
        if (!sequence.empty()) command.insert(command.end(), {"--sequence", sequence});
        const int status = RunProgram(command);
        if (status != 0) return false;
        for (const auto& entry : fs::recursive_directory_iterator(m_base + "site"))
            fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        return true;
    }
    bool StartNginx(NginxProcess& nginx) { return nginx.Start(m_base + "site"); }
    std::string Served(NginxProcess& nginx, const std::string& name) const
    {
        return nginx.Root() + kSiteFolder + name;
    }
    std::string EngineFolder() const { return GetPathProvider()->GetEngineFolder(); }
    std::string EngineExe() const { return GetPathProvider()->GetEngineExePath(); }
    void InstallEngine()
    {
        fs::create_directories(EngineFolder());
        fs::copy_file(ZDR_TEST_CHILD_PATH, EngineExe(), fs::copy_options::overwrite_existing);
    }

    // Runs one launcher against host until it reports its end.
    bool RunUpdate(const std::string& host, int seconds = 60, NginxProcess* later = nullptr,
                   const std::string& laterRoot = std::string())
    {
        setenv("ZDR_UPDATE_HOST", host.c_str(), 1);
        {
            cpCAutoLock lock(m_lock.As<cpCMutex>());
            m_launcher = std::make_unique<CEngineLauncher>(m_lock.As<cpCMutex>());
            m_launcher->SetListener(&m_recorder);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!m_recorder.Ended()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (later && m_recorder.offline > 0 && Count(ReadLog(), "Session Error") >= 3) {
                if (!later->Start(laterRoot)) return false;
                later = nullptr;
            }
            MSG msg;
            if (GetMessageTimeout(&msg, 20)) DispatchMessage(&msg);
        }
        return true;
    }
    bool EngineRan() const { return fs::exists(m_marker); }
    // Nothing of the release reached the engine folder.
    bool NothingInstalled() const
    {
        if (!fs::exists(EngineFolder())) return true;
        for (const auto& entry : fs::directory_iterator(EngineFolder()))
            if (entry.is_regular_file()) return false;
        return true;
    }

    std::string m_base;
    std::string m_marker;
    vqSmartPtr m_lock;
    std::unique_ptr<CVyx> m_network;
    std::unique_ptr<CEngineLauncher> m_launcher;
    Recorder m_recorder;
};

std::string HostOf(NginxProcess& nginx)
{
    return "127.0.0.1:" + std::to_string(nginx.Port());
}

} // namespace

TEST_F(EngineUpdateTest, RoundTripIntoAnEmptyEngineFolder)
{
    for (const char* format : {"zip", "7z"}) {
        SCOPED_TRACE(format);
        NginxProcess nginx;
        ASSERT_TRUE(StartNginx(nginx));
        const std::string release = MakeRelease(1);
        ASSERT_TRUE(BuildSite(nginx, release, ZDR_DEMO_SIGNING_KEY, format));
        ASSERT_TRUE(RunUpdate(HostOf(nginx)));
        EXPECT_EQ(m_recorder.events.back(), "ready");
        for (const char* name : {"ZDRDownloadV32.exe", "part0.dat"})
            EXPECT_TRUE(ReadFile(EngineFolder() + name) == ReadFile(release + name)) << name << " differs";
        EXPECT_TRUE(EngineRan());
        const std::string log = ReadLog();
        EXPECT_NE(log.find("[MeshpullLib] Current Version:  / New Version: 1.0.0.10\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("[MeshpullLib] Update File (Count: 2)\r\n"), std::string::npos);
        EXPECT_NE(log.find("[MeshpullLib] Patch Success\r\n"), std::string::npos);
        // The update's steps, in order.
        const std::string url = nginx.Url(kSiteFolder);
        size_t at = 0;
        for (const std::string& line :
             {std::string("[MeshpullLib] Initialize Downloader"), std::string("[MeshpullLib] Begin Update"),
              "[MeshpullLib] Download Completed (URL: " + url + "zdrdownload_updater.xml)(Code: 0)",
              "[MeshpullLib] Download Completed (URL: " + url + "files/all." + format + ")(Code: 0)",
              std::string("[MeshpullLib] Patch Success")}) {
            at = log.find(line + "\r\n", at);
            ASSERT_NE(at, std::string::npos) << line;
        }
        // Two files listed, two chosen: the package only.
        const std::string package = std::string("/files/all.") + format + " ";
        const std::string access = nginx.AccessLogWith(package, 1);
        EXPECT_NE(access.find(package), std::string::npos);
        EXPECT_EQ(access.find("/files/ZDRDownloadV32.exe."), std::string::npos);
        EXPECT_EQ(m_recorder.offline, 0);
        // The next run of the same release finds nothing to do.
        StopStartedEngines();
        m_launcher.reset();
        m_recorder = Recorder();
        fs::remove(m_marker);
        ASSERT_TRUE(RunUpdate(HostOf(nginx)));
        EXPECT_EQ(m_recorder.events, std::vector<std::string>{"ready"});
        EXPECT_TRUE(EngineRan());
        StopStartedEngines();
        m_launcher.reset();
        m_recorder = Recorder();
        fs::remove_all(EngineFolder());
        LogReset();
        fs::remove(m_marker);
        nginx.Stop();
        fs::remove_all(m_base + "site");
        fs::remove_all(release);
    }
}

TEST_F(EngineUpdateTest, EqualVersionAndExecutablePresentTransfersNothing)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    ASSERT_TRUE(BuildSite(nginx, MakeRelease(1)));
    InstallEngine();
    ASSERT_TRUE(RunUpdate(HostOf(nginx)));
    EXPECT_EQ(m_recorder.events, std::vector<std::string>{"ready"});
    EXPECT_TRUE(EngineRan());
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] Current Version: 1.0.0.10 / New Version: 1.0.0.10\r\n"), std::string::npos);
    EXPECT_NE(log.find("[MeshpullLib] Update File (Count: 0)\r\n"), std::string::npos);
    EXPECT_NE(log.find("[MeshpullLib] Patch Success\r\n"), std::string::npos);
    EXPECT_EQ(nginx.AccessLog().find("/files/"), std::string::npos);
    EXPECT_EQ(Count(nginx.AccessLogWith("zdrdownload_updater.xml.sig ", 1), "zdrdownload_updater.xml.sig "), 1u);
}

TEST_F(EngineUpdateTest, ChangedVersionWithThreeFilesFetchesOnlyTheExecutable)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    const std::string release = MakeRelease(2);
    ASSERT_TRUE(BuildSite(nginx, release));
    // An older engine: the same program without a version note reads as ""
    // which differs from 1.0.0.10.
    fs::create_directories(EngineFolder());
    WriteFile(EngineExe(), "#!/bin/sh\nexit 0\n");
    ASSERT_TRUE(RunUpdate(HostOf(nginx)));
    EXPECT_EQ(m_recorder.events.back(), "ready");
    EXPECT_TRUE(ReadFile(EngineExe()) == ReadFile(release + "ZDRDownloadV32.exe"));
    EXPECT_FALSE(fs::exists(EngineFolder() + "part0.dat"));
    const std::string access = nginx.AccessLogWith("/files/ZDRDownloadV32.exe.zip ", 1);
    EXPECT_NE(access.find("/files/ZDRDownloadV32.exe.zip "), std::string::npos);
    EXPECT_EQ(access.find("/files/all.zip"), std::string::npos);
    EXPECT_NE(ReadLog().find("[MeshpullLib] Update File (Count: 2)\r\n"), std::string::npos);
    EXPECT_TRUE(EngineRan());
}

TEST_F(EngineUpdateTest, BadAnswersAreThreeFailedAttempts)
{
    for (const char* fault : {"404", "length 0", "digest list 404"}) {
        SCOPED_TRACE(fault);
        NginxProcess nginx;
        ASSERT_TRUE(StartNginx(nginx));
        ASSERT_TRUE(BuildSite(nginx, MakeRelease(1)));
        const std::string package = Served(nginx, "files/all.zip");
        const std::string what = fault;
        const std::string transfer = what == "digest list 404" ? "/files/all.zip.md4" : "/files/all.zip";
        if (what == "404") fs::remove(package);
        if (what == "length 0") WriteFile(package, "");
        if (what == "digest list 404") fs::remove(package + ".md4");
        ASSERT_TRUE(RunUpdate(HostOf(nginx)));
        EXPECT_EQ(Count(nginx.AccessLogWith(transfer + " ", 3), transfer + " "), 3u);
        EXPECT_EQ(Count(ReadLog(), transfer + ")(Code: 4)"), 3u);
        // Verification is never dropped: without its list the data is not
        // even fetched.
        if (what == "digest list 404") {
            EXPECT_EQ(Count(nginx.AccessLog(), "/files/all.zip "), 0u);
        }
        EXPECT_TRUE(NothingInstalled());
        // The package was dropped: no engine, and the update is not ok.
        EXPECT_FALSE(EngineRan());
        EXPECT_NE(ReadLog().find("[MeshpullLib] Patch Fail\r\n"), std::string::npos);
        EXPECT_EQ(m_recorder.events.back(), "failed");
        m_launcher.reset();
        m_recorder = Recorder();
        LogReset();
        nginx.Stop();
        fs::remove_all(m_base + "site");
        fs::remove_all(m_base + "release");
    }
}

TEST_F(EngineUpdateTest, UnreachableServerPausesUntilItComesUp)
{
    NginxProcess nginx;
    nginx.SetPort(NginxProcess::FreePort());
    // The site is built for the port before anything listens on it.
    ASSERT_TRUE(BuildSite(nginx, MakeRelease(1)));
    ASSERT_TRUE(RunUpdate(HostOf(nginx), 90, &nginx, m_base + "site"));
    EXPECT_EQ(m_recorder.offline, 1);
    EXPECT_EQ(m_recorder.events.back(), "ready");
    EXPECT_TRUE(ReadFile(EngineExe()) == ReadFile(m_base + "release/ZDRDownloadV32.exe"));
    const std::string log = ReadLog();
    // More failed connects than the three counted attempts (the pause does
    // not count them), fewer than the answers that give the server up.
    EXPECT_GE(Count(log, "zdrdownload_updater.xml.sig)(Code: 7)"), 3u);
    EXPECT_NE(log.find("[MeshpullLib] Patch Success\r\n"), std::string::npos);
}

TEST_F(EngineUpdateTest, AnUpdateServerThatStaysUnreachableIsGivenUpAndTheInstalledEngineRuns)
{
    for (const bool installed : {true, false}) {
        SCOPED_TRACE(installed ? "an engine installed" : "no engine");
        if (installed) InstallEngine();
        ASSERT_TRUE(RunUpdate("127.0.0.1:" + std::to_string(RefusedPort()))) << ReadLog();
        EXPECT_EQ(m_recorder.offline, 1);
        EXPECT_EQ(m_recorder.events.back(), installed ? "ready" : "failed");
        EXPECT_EQ(EngineRan(), installed);
        const std::string log = ReadLog();
        EXPECT_EQ(Count(log, "zdrdownload_updater.xml.sig)(Code: 7)"), static_cast<size_t>(CDownloader::kUnreachableAnswers));
        EXPECT_NE(log.find("[MeshpullLib] Update Server Unreachable (URL: http://127.0.0.1:"), std::string::npos) << log;
        EXPECT_NE(log.find("[MeshpullLib] Patch Fail\r\n"), std::string::npos);
        StopStartedEngines();
        m_launcher.reset();
        m_recorder = Recorder();
        fs::remove_all(EngineFolder());
        fs::remove(m_marker);
        LogReset();
    }
}

TEST_F(EngineUpdateTest, AnEngineThatEndsBeforeItIsReadyIsNoSuccess)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    const std::string release = MakeRelease(1);
    ASSERT_TRUE(BuildSite(nginx, release));
    setenv("ZDR_TEST_CHILD_MODE", "exit", 1);
    ASSERT_TRUE(RunUpdate(HostOf(nginx)));
    // The update itself went well: the verified release is in place.
    EXPECT_TRUE(ReadFile(EngineExe()) == ReadFile(release + "ZDRDownloadV32.exe"));
    EXPECT_TRUE(EngineRan());
    EXPECT_EQ(m_recorder.events.back(), "failed");
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] Run Binary (ended before ready) "), std::string::npos) << log;
    EXPECT_NE(log.find("[MeshpullLib] Patch Fail\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Patch Success"), std::string::npos) << log;
}

TEST_F(EngineUpdateTest, UnauthenticatedSitesAreNeverInstalled)
{
    const std::string otherKey = m_base + "other-key.pem";
    ASSERT_EQ(RunProgram({"openssl", "genpkey", "-algorithm", "ed25519", "-out", otherKey}), 0);
    struct Case {
        const char* label;
        const char* why; // in the log
    } cases[] = {
        {"signed with another key", "(signature does not match)"},
        {"unsigned", "(no signature)"},
        {"changed after signing", "(signature does not match)"},
        {"sha256 differs while the MD4 list matches", "(sha256)"},
        {"MD4 list does not match", "(md4)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string label = c.label;
        NginxProcess nginx;
        ASSERT_TRUE(StartNginx(nginx));
        ASSERT_TRUE(BuildSite(nginx, MakeRelease(1), label == "signed with another key" ? otherKey : ZDR_DEMO_SIGNING_KEY));
        const std::string description = Served(nginx, "zdrdownload_updater.xml");
        const std::string package = Served(nginx, "files/all.zip");
        if (label == "unsigned") fs::remove(description + ".sig");
        if (label == "changed after signing") {
            std::string text = ReadFile(description);
            text.replace(text.find("1.0.0.10"), 8, "1.0.0.11");
            WriteFile(description, text);
        }
        if (label.rfind("sha256", 0) == 0 || label.rfind("MD4", 0) == 0) {
            // Another archive of the same kind, served in the package's place.
            const std::string swapped = m_base + "swapped.zip";
            fs::create_directories(m_base + "swapped");
            WriteFile(m_base + "swapped/ZDRDownloadV32.exe", "#!/bin/sh\necho swapped\n");
            ASSERT_EQ(RunProgram({"zip", "-q", "-j", swapped, m_base + "swapped/ZDRDownloadV32.exe"}), 0);
            const std::string bytes = ReadFile(swapped);
            WriteFile(package, bytes);
            if (label.rfind("sha256", 0) == 0) {
                const std::vector<unsigned char> list =
                    BuildDigestList(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
                WriteFile(package + ".md4", std::string(list.begin(), list.end()));
            }
        }
        ASSERT_TRUE(RunUpdate(HostOf(nginx)));
        EXPECT_TRUE(NothingInstalled());
        EXPECT_FALSE(EngineRan());
        const std::string log = ReadLog();
        EXPECT_NE(log.find(c.why), std::string::npos) << log;
        EXPECT_NE(log.find("[MeshpullLib] Patch Fail\r\n"), std::string::npos);
        EXPECT_EQ(m_recorder.events.back(), "failed");
        if (label.rfind("sha256", 0) == 0 || label.rfind("MD4", 0) == 0) {
            // Three verified attempts, then the record is dropped (nginx may
            // log the last request after the client is done with it).
            EXPECT_EQ(Count(nginx.AccessLogWith("/files/all.zip ", 3), "/files/all.zip "), 3u);
        }
        m_launcher.reset();
        m_recorder = Recorder();
        nginx.Stop();
        fs::remove_all(m_base + "site");
        fs::remove_all(m_base + "release");
        fs::remove_all(EngineFolder());
        LogReset();
    }
}

TEST_F(EngineUpdateTest, AnOlderSignedDescriptionIsNeverInstalledAgain)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    const std::string release = MakeRelease(1);
    ASSERT_TRUE(BuildSite(nginx, release, ZDR_DEMO_SIGNING_KEY, "zip", "1000"));
    ASSERT_TRUE(RunUpdate(HostOf(nginx)));
    EXPECT_EQ(m_recorder.events.back(), "ready");
    StopStartedEngines();
    m_launcher.reset();
    m_recorder = Recorder();
    // An older release, validly signed in its day, served again: a part
    // that was dropped since would come back with it.
    fs::remove_all(m_base + "site/www");
    WriteFile(release + "old-part.dat", "from an older release");
    ASSERT_TRUE(BuildSite(nginx, release, ZDR_DEMO_SIGNING_KEY, "zip", "999"));
    std::string description = ReadFile(Served(nginx, "zdrdownload_updater.xml"));
    fs::remove(EngineExe());
    LogReset();
    ASSERT_TRUE(RunUpdate(HostOf(nginx)));
    const std::string log = ReadLog();
    EXPECT_NE(log.find("zdrdownload_updater.xml)(sequence 999 older than 1000)"), std::string::npos) << log;
    EXPECT_NE(log.find("[MeshpullLib] Patch Fail\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(EngineExe()));
    EXPECT_FALSE(fs::exists(EngineFolder() + "old-part.dat"));
    // Only the first run fetched a package.
    EXPECT_EQ(Count(nginx.AccessLogWith("zdrdownload_updater.xml ", 2), "/files/all.zip "), 1u);
    EXPECT_EQ(m_recorder.events.back(), "failed");
    // The builder wrote the sequence into what it signed.
    EXPECT_NE(description.find("<update sequence=\"999\">"), std::string::npos) << description;
}

TEST_F(EngineUpdateTest, BuilderHelpAndRefusals)
{
    const std::string out = m_base + "help.txt";
    EXPECT_EQ(RunProgram({"sh", "-c", std::string(ZDR_UPDATE_SITE_PATH) + " --help > " + out}), 0);
    EXPECT_NE(ReadFile(out).find("zdrdownload_updater.xml.sig"), std::string::npos);
    // An engine without version note cannot be published.
    fs::create_directories(m_base + "bare");
    WriteFile(m_base + "bare/ZDRDownloadV32.exe", "#!/bin/sh\n");
    EXPECT_EQ(RunProgram({ZDR_UPDATE_SITE_PATH, "--key", ZDR_DEMO_SIGNING_KEY, "--engine", m_base + "bare", "--out",
                          m_base + "bare-site", "--base-url", "http://127.0.0.1:1"}),
              1);
    EXPECT_FALSE(fs::exists(m_base + "bare-site" + kUpdateDescriptionPath));
    // A sequence is a decimal number the service can read back.
    const std::string release = MakeRelease(0);
    for (const char* sequence : {"", "12a", "-1", "99999999999999999999"}) {
        SCOPED_TRACE(sequence);
        EXPECT_EQ(RunProgram({ZDR_UPDATE_SITE_PATH, "--key", ZDR_DEMO_SIGNING_KEY, "--engine", release, "--out",
                              m_base + "numbered-site", "--base-url", "http://127.0.0.1:1", "--sequence", sequence}),
                  2);
    }
    EXPECT_FALSE(fs::exists(m_base + "numbered-site" + kUpdateDescriptionPath));
}

TEST_F(EngineUpdateTest, PackageThatCannotBeUnpackedGivesThePathUp)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    ASSERT_TRUE(BuildSite(nginx, MakeRelease(1)));
    // A package that is authentic (listed, hashed and signed as the builder
    // would) but no archive.
    const std::string package = Served(nginx, "files/all.zip");
    const std::string bytes(4096, 'x');
    const std::string oldSha = Sha256Hex(ReadFile(package).data(), ReadFile(package).size());
    WriteFile(package, bytes);
    const std::vector<unsigned char> list = BuildDigestList(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    WriteFile(package + ".md4", std::string(list.begin(), list.end()));
    const std::string description = Served(nginx, "zdrdownload_updater.xml");
    std::string text = ReadFile(description);
    ASSERT_NE(text.find(oldSha), std::string::npos);
    text.replace(text.find(oldSha), oldSha.size(), Sha256Hex(bytes.data(), bytes.size()));
    WriteFile(description, text);
    WriteFile(description + ".sig", SignEd25519(ReadFile(ZDR_DEMO_SIGNING_KEY), text.data(), text.size()));
    ASSERT_TRUE(RunUpdate(HostOf(nginx)));
    EXPECT_EQ(m_recorder.events.back(), "path failed 1");
    EXPECT_NE(ReadLog().find("[MeshpullLib] 엔진 다운로드 실패 result : 5\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(EngineExe()));
    EXPECT_FALSE(EngineRan());
}

TEST_F(EngineUpdateTest, APackageThatFailsMidwayLeavesTheInstalledEngineWhole)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    ASSERT_TRUE(BuildSite(nginx, MakeRelease(1)));
    // An older engine whose folder holds a folder where the release has
    // part0.dat: the package's executable (first in the archive) can take
    // its place, part0.dat cannot.
    fs::create_directories(EngineFolder() + "part0.dat");
    WriteFile(EngineFolder() + "part0.dat/old.txt", "old");
    const std::string older = "#!/bin/sh\nexit 0\n";
    WriteFile(EngineExe(), older);
    chmod(EngineExe().c_str(), 0755);
    ASSERT_TRUE(RunUpdate(HostOf(nginx)));
    EXPECT_EQ(m_recorder.events.back(), "path failed 1");
    EXPECT_NE(ReadLog().find("[MeshpullLib] 엔진 다운로드 실패 result : 5\r\n"), std::string::npos);
    // Nothing of the release arrived: the installed engine is as it was and
    // still runs.
    EXPECT_TRUE(ReadFile(EngineExe()) == older);
    EXPECT_EQ(ReadFile(EngineFolder() + "part0.dat/old.txt"), "old");
    EXPECT_EQ(RunProgram({EngineExe()}), 0);
}
