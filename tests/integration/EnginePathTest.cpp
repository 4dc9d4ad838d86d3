// Jobs through the service interface on the engine path: the real engine
// program, installed into the test's private engine folder from a signed
// update site (zdr-update-site) that a real nginx serves, and the files it
// downloads served by the same nginx. Faults the engine path must survive
// are made with real things: a site without the engine, an update server
// that is down or cannot be resolved, a listener that closes every
// connection, an engine killed mid-download, nginx refusing the engine.

#include "AgentServerProcess.h"
#include "EngineProcess.h"
#include "EngineSite.h"
#include "JobNotices.h"
#include "LoopbackSockets.h"
#include "NginxProcess.h"
#include "engine/ActivityLog.h"
#include "engine/IGetPath.h"
#include "netlib/layers/nwCDNLocalCodec.h"
#include "platform/Connectivity.h"
#include "service/DlApi.h"
#include "ServiceEvents.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool Connected()
{
    return true;
}

int ListenOn(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int ConnectTo(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// On the engine's port: accepts every connection and closes it at once (a
// program that is not our engine), holds it open and never answers (an
// engine of ours that hangs), or relays it to the real engine on another
// port, keeping what the client sent. A relay or a hung engine stands in for
// our engine: it holds the engine's instance lock for the port, so an engine
// started meanwhile says it is ready and leaves the port to it. Runs on a
// thread of its own until destroyed.
class EnginePortPeer {
public:
    // relayPort 0: close every connection, or with holdSilent keep the first
    // one open without a word.
    EnginePortPeer(uint16_t port, uint16_t relayPort, bool holdSilent = false)
        : m_relayPort(relayPort), m_holdSilent(holdSilent)
    {
        if (relayPort != 0 || holdSilent) {
            const std::string lock = std::string(getenv("XDG_RUNTIME_DIR")) + "/ZDRDownloadV32-" +
                                     std::to_string(geteuid()) + "-" + std::to_string(port) + ".lock";
            m_lock = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (m_lock < 0 || flock(m_lock, LOCK_EX | LOCK_NB) != 0) return;
        }
        m_listener = ListenOn(port);
        if (m_listener >= 0) m_thread = std::thread([this] { Run(); });
    }
    ~EnginePortPeer()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_listener >= 0) close(m_listener);
        if (m_lock >= 0) close(m_lock);
    }
    bool Listening() const { return m_listener >= 0; }
    int Accepted() const { return m_accepted; }
    std::string Sent()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_sent;
    }

private:
    void Run()
    {
        int client = -1;
        int engine = -1;
        while (!m_stop) {
            pollfd fds[3] = {{m_listener, POLLIN, 0}, {client, POLLIN, 0}, {engine, POLLIN, 0}};
            if (poll(fds, 3, 50) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                const int accepted = accept(m_listener, nullptr, nullptr);
                if (accepted < 0) continue;
                ++m_accepted;
                if ((m_relayPort == 0 && !m_holdSilent) || client >= 0) {
                    close(accepted);
                    continue;
                }
                client = accepted;
                if (m_relayPort != 0) engine = ConnectTo(m_relayPort);
            }
            char buffer[65536];
            if (client >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = read(client, buffer, sizeof buffer);
                const bool relayed = m_holdSilent || (engine >= 0 && write(engine, buffer, static_cast<size_t>(n)) == n);
                if (n <= 0 || !relayed) {
                    CloseBoth(&client, &engine);
                    continue;
                }
                std::lock_guard<std::mutex> guard(m_mutex);
                m_sent.append(buffer, static_cast<size_t>(n));
            }
            if (engine >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = read(engine, buffer, sizeof buffer);
                if (n <= 0 || write(client, buffer, static_cast<size_t>(n)) != n) CloseBoth(&client, &engine);
            }
        }
        CloseBoth(&client, &engine);
    }
    static void CloseBoth(int* client, int* engine)
    {
        if (*client >= 0) close(*client);
        if (*engine >= 0) close(*engine);
        *client = -1;
        *engine = -1;
    }

    uint16_t m_relayPort;
    bool m_holdSilent;
    int m_listener = -1;
    int m_lock = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::mutex m_mutex;
    std::string m_sent;
    std::thread m_thread;
};

// A listener of another user (uid and gid 65534) on the port, in a child
// process, as a program of someone else on the machine would hold the
// engine's port: it accepts every connection, never answers, and counts the
// bytes it is sent. Needs root to change its user.
class ForeignListener {
public:
    static constexpr uid_t kUid = 65534;

    explicit ForeignListener(uint16_t port)
    {
        int ready[2], stop[2], report[2];
        if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(stop, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            // Only calls that are safe after a fork of a threaded process.
            close(ready[0]);
            close(stop[1]);
            close(report[0]);
            const int listener = setgid(kUid) == 0 && setuid(kUid) == 0 ? ListenOn(port) : -1;
            const char answer = listener >= 0 ? 'y' : 'n';
            if (write(ready[1], &answer, 1) != 1 || listener < 0) _exit(1);
            long long received = 0;
            int clients[8];
            int count = 0;
            for (;;) {
                pollfd fds[10] = {{stop[0], POLLIN, 0}, {listener, POLLIN, 0}};
                for (int i = 0; i < count; ++i) fds[2 + i] = {clients[i], POLLIN, 0};
                if (poll(fds, static_cast<nfds_t>(2 + count), 1000) < 0) break;
                if (fds[0].revents) break;
                if ((fds[1].revents & POLLIN) && count < 8) {
                    const int accepted = accept(listener, nullptr, nullptr);
                    if (accepted >= 0) clients[count++] = accepted;
                }
                for (int i = 0; i < count; ++i) {
                    char buffer[4096];
                    if (!(fds[2 + i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                    const ssize_t n = read(clients[i], buffer, sizeof buffer);
                    if (n > 0) received += n;
                }
            }
            _exit(write(report[1], &received, sizeof received) == sizeof received ? 0 : 1);
        }
        close(ready[1]);
        close(stop[0]);
        close(report[1]);
        m_stop = stop[1];
        m_report = report[0];
        pollfd wait = {ready[0], POLLIN, 0};
        char answer = 'n';
        m_listening = m_pid > 0 && poll(&wait, 1, 10000) == 1 && read(ready[0], &answer, 1) == 1 && answer == 'y';
        close(ready[0]);
    }
    ~ForeignListener() { Stop(); }
    bool Listening() const { return m_listening; }
    // Ends the child; the bytes it was sent, -1 when it could not tell.
    long long Stop()
    {
        if (m_pid <= 0) return m_received;
        close(m_stop);
        pollfd wait = {m_report, POLLIN, 0};
        if (poll(&wait, 1, 10000) != 1 || read(m_report, &m_received, sizeof m_received) != sizeof m_received) {
            kill(m_pid, SIGKILL);
            m_received = -1;
        }
        close(m_report);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return m_received;
    }

private:
    pid_t m_pid = -1;
    int m_stop = -1;
    int m_report = -1;
    bool m_listening = false;
    long long m_received = -1;
};

struct WireFrame {
    uint16_t code;
    std::string payload;
};

// The frames of a client's byte stream.
std::vector<WireFrame> FramesOf(const std::string& stream)
{
    std::vector<WireFrame> frames;
    size_t at = 0;
    while (at + 14 <= stream.size()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data() + at);
        const uint32_t length = bytes[10] | bytes[11] << 8 | bytes[12] << 16 | static_cast<uint32_t>(bytes[13]) << 24;
        frames.push_back({static_cast<uint16_t>(bytes[2] | bytes[3] << 8), stream.substr(at + 14, length)});
        at += 14 + length;
    }
    return frames;
}

using Events = ServiceEvents;

class EnginePathTest : public testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ZDR_NO_ENGINE");
        base = std::string(getenv("HOME")) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
        target = base + "/download/";
        fs::create_directories(base);
        ASSERT_TRUE(agent.Start(base + "/reports.jsonl"));
        setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(agent.Port())).c_str(), 1);
        enginePort = EngineProcess::FreePort();
        setenv("ZDR_ENGINE_PORT", std::to_string(enginePort).c_str(), 1);
        // The engine's own connectivity test: this file means online.
        WriteFile(base + "/online", "");
        setenv("ZDR_ENGINE_CONNECTIVITY_FILE", (base + "/online").c_str(), 1);
        SetConnectivityCheckForTesting(&Connected);
    }
    void TearDown() override
    {
        DlFinalize();
        StopEngines();
        SetConnectivityCheckForTesting(nullptr);
        for (const char* name : {"ZDR_AGENT_HOST", "ZDR_ENGINE_PORT", "ZDR_ENGINE_CONNECTIVITY_FILE", "ZDR_UPDATE_HOST"})
            unsetenv(name);
        nginx.Stop();
        agent.Stop();
    }

    // nginx with the extra configuration, serving the update site (unless
    // told not to) and the files under /files/.
    void StartServers(const std::string& extraConfig = "", bool site = true)
    {
        nginx.AddServerConfig(extraConfig);
        ASSERT_TRUE(nginx.Start(base + "/nginx"));
        setenv("ZDR_UPDATE_HOST", ("127.0.0.1:" + std::to_string(nginx.Port())).c_str(), 1);
        if (!site) return;
        ASSERT_TRUE(EngineSite::Build(nginx.Root(), nginx.Url(""), base + "/release"));
        AllowNginx();
    }
    void AllowNginx() { EngineSite::AllowNginx(base); }
    std::string Serve(const std::string& name, size_t size)
    {
        const std::string bytes = RandomBytes(size, static_cast<unsigned>(size + name.size()));
        WriteFile(nginx.Root() + "/files/" + name, bytes);
        AllowNginx();
        return bytes;
    }
    void Initialize()
    {
        ASSERT_EQ(DlInitialize(nullptr, &Events::Callback, &events), DL_OK);
        ASSERT_EQ(DlSetServiceId("svc-engine"), DL_OK);
    }
    int NewJob(const std::vector<std::string>& names, const std::string& folder = "")
    {
        int job = 0;
        EXPECT_EQ(DlCreateJob(&job, "zdr", "svc-job"), DL_OK);
        for (const std::string& name : names)
            EXPECT_EQ(DlAddJobFile(job, nginx.Url("/files/" + name).c_str(), (folder.empty() ? target : folder).c_str(),
                                   name.c_str(), 0xFFFFFFFFu, -1, 1),
                      DL_OK);
        return job;
    }
    std::vector<int> Notices(int job) { return PopNoticeCodes(job); }
    // Requests for the path with the engine's user agent, and with any other.
    std::pair<size_t, size_t> Fetches(const std::string& path) { return EngineSite::Fetches(nginx, path); }
    // Body bytes nginx sent for the path (the combined format's size field).
    long long BytesSent(const std::string& path) { return EngineSite::BytesSent(nginx, path); }
    std::string EngineExe() const { return GetPathProvider()->GetEngineExePath(); }
    // Processes running the installed engine.
    std::vector<pid_t> EnginePids() const { return EngineSite::EnginePids(EngineExe()); }
    void StopEngines() { EngineSite::StopEngines(EngineExe()); }
    // Waits for the job's end (complete) while checking that never more
    // than one engine runs; answers every resume question with resume.
    bool RunToEnd(int job, int seconds = 90, size_t* maxEngines = nullptr)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(seconds);
        int answered = 0;
        while (Clock::now() < deadline) {
            if (maxEngines) *maxEngines = std::max(*maxEngines, EnginePids().size());
            if (events.Count(DL_EVENT_ASK_RESUME) > answered) {
                ++answered;
                EXPECT_EQ(DlAnswerResume(job, 1, 0), DL_OK);
            }
            if (events.Count(DL_EVENT_JOB_COMPLETE) > 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string base;
    std::string target;
    uint16_t enginePort = 0;
    NginxProcess nginx;
    AgentServerProcess agent;
    Events events;
};

} // namespace

TEST_F(EnginePathTest, AJobRunsOnTheEngineInstalledFromASignedUpdateSite)
{
    StartServers();
    const std::vector<std::string> names = {"a.bin", "b.bin", "c.bin"};
    const std::vector<std::string> contents = {Serve("a.bin", 1), Serve("b.bin", 300000), Serve("c.bin", 2500000)};
    Initialize();
    const int job = NewJob(names);
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_TRUE(RunToEnd(job)) << ReadLog();
    EXPECT_EQ(events.Count(DL_EVENT_UPDATE_SUCCEEDED), 1);
    EXPECT_EQ(events.Count(DL_EVENT_JOB_SIZE), 1);
    EXPECT_EQ(events.Count(DL_EVENT_FILE_DONE), 3);
    EXPECT_EQ(events.Count(DL_EVENT_ASK_RESUME), 0);
    EXPECT_TRUE(Notices(job).empty());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_TRUE(ReadFile(target + names[i]) == contents[i]) << names[i];
        // Fetched by the engine only.
        EXPECT_EQ(Fetches("/files/" + names[i]).second, 0u) << names[i];
        EXPECT_GE(Fetches("/files/" + names[i]).first, 1u) << names[i];
    }
    EXPECT_TRUE(ReadFile(EngineExe()) == ReadFile(ZDR_ENGINE_PATH));
    EXPECT_EQ(EnginePids().size(), 1u);
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] Patch Success\r\n"), std::string::npos);
    EXPECT_EQ(log.find("CPlatFormDownloader Begin"), std::string::npos);
}

TEST_F(EnginePathTest, TwoHundredLongUrlsGoAsHeaderFilesAndEndAndOneHundredNinetyNineAsOneMessage)
{
    StartServers();
    // The real engine behind a relay on the service's engine port; the
    // engine the launcher starts finds that port taken and gives way.
    EngineProcess engine;
    ASSERT_TRUE(engine.Start({ZDR_ENGINE_PATH}, {"ZDR_ENGINE_CONNECTIVITY_FILE=" + base + "/online"}));
    EnginePortPeer relay(enginePort, engine.Port());
    ASSERT_TRUE(relay.Listening());
    const std::string prefix = nginx.Url("/files/");
    std::vector<std::string> small, large;
    for (int i = 0; i < 399; ++i) {
        std::string name = "f" + std::to_string(i) + "-";
        name += std::string(120 - prefix.size() - name.size(), 'x');
        Serve(name, 100 + static_cast<size_t>(i));
        (i < 199 ? small : large).push_back(name);
    }
    ASSERT_EQ((prefix + small[0]).size(), 120u);
    Initialize();
    const int one = NewJob(small, target + "one/");
    const int two = NewJob(large, target + "two/");
    ASSERT_EQ(DlStartJob(one, 0), DL_OK);
    ASSERT_EQ(DlStartJob(two, 1), DL_OK);
    ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE, 2)) << ReadLog();
    const std::vector<WireFrame> frames = FramesOf(relay.Sent());
    std::vector<uint16_t> codes;
    for (const WireFrame& frame : frames) codes.push_back(frame.code);
    // Service identifier; then per job tag, options and the files.
    std::vector<uint16_t> expected = {kLocalServiceId, kLocalJobTag, kLocalJobOptions, kLocalJob, kLocalJobTag,
                                      kLocalJobOptions, kLocalJobHeader};
    expected.insert(expected.end(), 200, kLocalJobFile);
    expected.push_back(kLocalJobEnd);
    ASSERT_EQ(codes, expected);
    // The identifier DlSetServiceId gave; mode 0 asks for options byte 1,
    // mode 1 for 2.
    EXPECT_STREQ(frames[0].payload.c_str(), "svc-engine");
    EXPECT_EQ(frames[2].payload[0], static_cast<char>(kLocalOptionsPlain));
    EXPECT_EQ(frames[5].payload[0], static_cast<char>(kLocalOptionsHighSpeed));
    // What the engine made of them: every file in place.
    for (const std::string& name : small) EXPECT_EQ(fs::file_size(target + "one/" + name), ReadFile(nginx.Root() + "/files/" + name).size());
    for (const std::string& name : large) EXPECT_TRUE(ReadFile(target + "two/" + name) == ReadFile(nginx.Root() + "/files/" + name)) << name;
    EXPECT_EQ(events.Count(DL_EVENT_FILE_DONE), 399);
}

TEST_F(EnginePathTest, AJobTheEngineGivesUpFinishesOnThePlainPathWithNotice518)
{
    // nginx refuses the engine (a 403 moves it past every alternative at
    // once) and serves the plain downloader.
    StartServers("    location /files/ { if ($http_user_agent ~ \"^ZDRDownloadV32\") { return 403; } }\n");
    const std::string a = Serve("a.bin", 200000);
    const std::string b = Serve("b.bin", 70000);
    Initialize();
    const int job = NewJob({"a.bin", "b.bin"});
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_TRUE(RunToEnd(job)) << ReadLog();
    const std::vector<int> notices = Notices(job);
    EXPECT_EQ(std::count(notices.begin(), notices.end(), DL_NOTICE_ENGINE_GAVE_UP), 1);
    EXPECT_TRUE(ReadFile(target + "a.bin") == a);
    EXPECT_TRUE(ReadFile(target + "b.bin") == b);
    EXPECT_GE(Fetches("/files/a.bin").first, 1u);
    EXPECT_GE(Fetches("/files/a.bin").second, 1u);
    EXPECT_NE(ReadLog().find("[MeshpullLib] CPlatFormDownloader Begin"), std::string::npos);
}

TEST_F(EnginePathTest, NoEngineOnTheUpdateSiteMovesTheJobToThePlainPath)
{
    StartServers();
    for (const auto& entry : fs::recursive_directory_iterator(nginx.Root() + "/ostrel/zdrdownload/update/v3_32/files"))
        if (entry.path().extension() == ".zip") fs::remove(entry.path());
    const std::string a = Serve("a.bin", 150000);
    Initialize();
    const int job = NewJob({"a.bin"});
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_TRUE(RunToEnd(job)) << ReadLog();
    EXPECT_EQ(events.Count(DL_EVENT_UPDATE_FAILED), 1);
    EXPECT_TRUE(ReadFile(target + "a.bin") == a);
    EXPECT_EQ(Fetches("/files/a.bin").first, 0u);
    EXPECT_FALSE(fs::exists(EngineExe()));
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] Patch Fail\r\n"), std::string::npos);
    EXPECT_NE(log.find("[MeshpullLib] CEngineDownloader Destroy\r\n"), std::string::npos);
}

TEST_F(EnginePathTest, AnUpdateServerThatIsDownOrUnknownMovesHeldJobsToThePlainPathWithoutWaitingForTheBound)
{
    StartServers("", false);
    const std::string a = Serve("a.bin", 120000);
    struct Case {
        const char* what;
        std::string host; // empty: the build's default host
    } cases[] = {
        {"refused", "127.0.0.1:" + std::to_string(RefusedPort())},
        {"the default host, which does not resolve", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.host.empty()) unsetenv("ZDR_UPDATE_HOST");
        else setenv("ZDR_UPDATE_HOST", c.host.c_str(), 1);
        fs::remove_all(target);
        events.seen.clear();
        Initialize();
        const int job = NewJob({"a.bin"});
        ASSERT_EQ(DlStartJob(job, 1), DL_OK);
        ASSERT_TRUE(RunToEnd(job, 120)) << ReadLog();
        EXPECT_TRUE(ReadFile(target + "a.bin") == a);
        const std::string log = ReadLog();
        // A refusal and a name that does not resolve are answers: the update
        // gives up after a few of them and says so; the jobs do not wait for
        // the bound meant for an engine that never gets ready.
        EXPECT_EQ(events.Count(DL_EVENT_UPDATE_FAILED), 1) << log;
        EXPECT_NE(log.find("[MeshpullLib] Update Server Unreachable (URL: http://"), std::string::npos) << log;
        EXPECT_NE(log.find("[MeshpullLib] CEngineDownloader Engine Failed: jobs move to the plain path"), std::string::npos);
        EXPECT_EQ(log.find("Engine Not Ready"), std::string::npos) << log;
        EXPECT_EQ(log.find("Patch Success"), std::string::npos);
        EXPECT_TRUE(EnginePids().empty());
        DlRemoveJob(job);
        DlFinalize();
    }
}

TEST_F(EnginePathTest, AProgramThatHoldsTheEnginePortIsNeverTakenForTheEngine)
{
    StartServers();
    // Another program on the engine's port, accepting and closing: the
    // engine the launcher starts cannot listen and ends, and the launcher
    // says so instead of handing the jobs to whoever is there.
    EnginePortPeer closer(enginePort, 0);
    ASSERT_TRUE(closer.Listening());
    const std::string a = Serve("a.bin", 100000);
    Initialize();
    const int job = NewJob({"a.bin"});
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_TRUE(RunToEnd(job, 120)) << ReadLog();
    EXPECT_TRUE(ReadFile(target + "a.bin") == a);
    EXPECT_EQ(events.Count(DL_EVENT_UPDATE_SUCCEEDED), 0);
    EXPECT_EQ(events.Count(DL_EVENT_UPDATE_FAILED), 1);
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] Run Binary (ended before ready) "), std::string::npos) << log;
    EXPECT_NE(log.find("[MeshpullLib] Patch Fail\r\n"), std::string::npos);
    EXPECT_EQ(log.find("Patch Success"), std::string::npos);
    EXPECT_LT(log.find("Patch Fail"), log.find("CPlatFormDownloader Begin"));
    EXPECT_EQ(log.find("localClosed()"), std::string::npos) << log;
    EXPECT_TRUE(EnginePids().empty());
}

TEST_F(EnginePathTest, AnEngineKilledMidDownloadIsStartedAgainAndTheJobCompletes)
{
    StartServers("    location /files/ { limit_rate 400k; }\n");
    const size_t size = 3 << 20;
    const std::string bytes = Serve("big.bin", size);
    Initialize();
    const int job = NewJob({"big.bin"});
    ASSERT_EQ(DlStartJob(job, 0), DL_OK);
    // Under way: progress with bytes, and the engine's control file saved.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    DlProgress progress{};
    while (Clock::now() < deadline) {
        DlGetJobProgress(job, &progress);
        if (progress.bytesPresent > 800000 && fs::exists(target + "big.bin.zdrctl")) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GT(progress.bytesPresent, 800000);
    const std::vector<pid_t> first = EnginePids();
    ASSERT_EQ(first.size(), 1u);
    kill(first[0], SIGKILL);
    size_t maxEngines = 0;
    ASSERT_TRUE(RunToEnd(job, 90, &maxEngines)) << ReadLog();
    EXPECT_EQ(maxEngines, 1u);
    EXPECT_TRUE(ReadFile(target + "big.bin") == bytes);
    const std::vector<pid_t> second = EnginePids();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);
    EXPECT_EQ(events.Count(DL_EVENT_ASK_RESUME), 1);
    // The second engine continued the first one's part.
    EXPECT_LT(BytesSent("/files/big.bin"), static_cast<long long>(size) * 2 - 500000);
    const std::string log = ReadLog();
    EXPECT_EQ(Count(log, "[MeshpullLib] localClosed()\r\n"), 1u);
    EXPECT_EQ(Count(log, "[MeshpullLib] Patch Success\r\n"), 2u);
    EXPECT_EQ(log.find("CPlatFormDownloader Begin"), std::string::npos);
}

TEST_F(EnginePathTest, AnInterruptedJobResumesThroughDlAnswerResume)
{
    StartServers("    location /files/ { limit_rate 500k; }\n");
    const size_t size = 3 << 20;
    const std::string bytes = Serve("big.bin", size);
    Initialize();
    int job = NewJob({"big.bin"});
    ASSERT_EQ(DlStartJob(job, 0), DL_OK);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    DlProgress progress{};
    while (Clock::now() < deadline) {
        DlGetJobProgress(job, &progress);
        if (progress.bytesPresent > 1000000 && fs::exists(target + "big.bin.zdrctl")) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GT(progress.bytesPresent, 1000000);
    ASSERT_EQ(DlStopJob(job), DL_OK);
    ASSERT_EQ(DlRemoveJob(job), DL_OK);
    // nginx logs the interrupted transfer once its connection has ended.
    const auto logged = Clock::now() + std::chrono::seconds(10);
    while (BytesSent("/files/big.bin") < 500000 && Clock::now() < logged)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const long long firstRun = BytesSent("/files/big.bin");
    job = NewJob({"big.bin"});
    ASSERT_EQ(DlStartJob(job, 0), DL_OK);
    ASSERT_TRUE(events.WaitFor(DL_EVENT_ASK_RESUME, 1, 30)) << ReadLog();
    ASSERT_EQ(DlAnswerResume(job, 1, 0), DL_OK);
    ASSERT_TRUE(RunToEnd(job)) << ReadLog();
    EXPECT_TRUE(ReadFile(target + "big.bin") == bytes);
    const long long secondRun = BytesSent("/files/big.bin") - firstRun;
    EXPECT_GT(firstRun, 500000);
    EXPECT_LT(secondRun, static_cast<long long>(size) - 500000);
    EXPECT_EQ(EnginePids().size(), 1u);
}

// Another user's listener or an HTTP server on the port keeps our engine from
// listening: it says why and the job goes to the plain path at once. An
// engine of ours that hangs is given up after the silence bound.
TEST_F(EnginePathTest, AnEnginePortHeldByAnotherUserASilentListenerOrAnHttpServerSendsTheJobToThePlainPathWithItsCause)
{
    StartServers();
    const std::string a = Serve("a.bin", 90000);
    struct Case {
        const char* what;
        std::function<std::shared_ptr<void>()> hold; // null when the port cannot be held
        std::string cause;
    };
    const Case cases[] = {
        {"another user's listener",
         [&]() -> std::shared_ptr<void> {
             if (geteuid() != 0) return nullptr;
             auto foreign = std::make_shared<ForeignListener>(enginePort);
             return foreign->Listening() ? foreign : nullptr;
         },
         "ZDRDownloadV32.exe:1 cannot listen on 127.0.0.1:" + std::to_string(enginePort) + ": Address already in use\r\n"},
        {"a listener of ours that never answers",
         [&]() -> std::shared_ptr<void> {
             auto silent = std::make_shared<EnginePortPeer>(enginePort, 0, true);
             return silent->Listening() ? silent : nullptr;
         },
         "[MeshpullLib] CEngineDownloader Engine Silent (2 s): jobs move to the plain path\r\n"},
        {"an HTTP server",
         [&]() -> std::shared_ptr<void> {
             setenv("ZDR_ENGINE_PORT", std::to_string(nginx.Port()).c_str(), 1);
             return std::make_shared<int>(0);
         },
         "ZDRDownloadV32.exe:1 cannot listen on 127.0.0.1:" + std::to_string(nginx.Port()) +
             ": Address already in use\r\n"},
    };
    setenv("ZDR_ENGINE_SILENCE_SECONDS", "2", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("ZDR_ENGINE_PORT", std::to_string(enginePort).c_str(), 1);
        fs::remove_all(target);
        events.seen.clear();
        LogReset();
        std::shared_ptr<void> holder = c.hold();
        if (!holder) {
            ADD_FAILURE() << "the port could not be held (another user's listener needs root)";
            continue;
        }
        Initialize();
        const int job = NewJob({"a.bin"});
        ASSERT_EQ(DlStartJob(job, 1), DL_OK);
        ASSERT_TRUE(RunToEnd(job, 60)) << ReadLog();
        EXPECT_TRUE(ReadFile(target + "a.bin") == a);
        const std::string log = ReadLog();
        EXPECT_NE(log.find(c.cause), std::string::npos) << log;
        // At once: no relaunch, no waiting for a ready engine.
        EXPECT_EQ(Count(log, "[MeshpullLib] localClosed()\r\n"), 0u) << log;
        EXPECT_EQ(log.find("Engine Not Ready"), std::string::npos);
        EXPECT_LT(log.find(c.cause), log.find("[MeshpullLib] CPlatFormDownloader Begin"));
        if (std::string(c.what) == "another user's listener") {
            EXPECT_EQ(std::static_pointer_cast<ForeignListener>(holder)->Stop(), 0);
        }
        DlRemoveJob(job);
        DlFinalize();
        StopEngines();
    }
    unsetenv("ZDR_ENGINE_SILENCE_SECONDS");
}
