// One transfer of the engine update into memory, against a real nginx and
// against scripted peers for the faults nginx does not produce.

#include "LoopbackSockets.h"
#include "NginxProcess.h"
#include "ScriptedHttpServer.h"
#include "engine/CDownloadSession.h"
#include "engine/IProgressFile.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/runtime/CVyx.h"
#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

// A record with an optional digest-list stage before its data, as the
// update file list keeps them; it remembers what it was handed.
class FakeRecord : public IProgressFile {
public:
    FakeRecord(std::string url, std::string digestUrl = "") : m_url(std::move(url)), m_digestUrl(std::move(digestUrl))
    {
    }
    int GetTransferUrl(std::string& url) override
    {
        url = m_digestUrl.empty() ? m_url : m_digestUrl;
        return 1;
    }
    int IsStageEnd() override { return m_lastKind == kTransferDigestList ? 0 : 1; }
    int Receive(const char* url, const void* data, uint32_t sizeLow, int32_t sizeHigh, int* kind) override
    {
        const uint64_t size = (static_cast<uint64_t>(static_cast<uint32_t>(sizeHigh)) << 32) | sizeLow;
        received.emplace_back(static_cast<const char*>(data), static_cast<size_t>(size));
        if (!m_digestUrl.empty() && m_digestUrl == url) {
            m_digestUrl.clear();
            *kind = m_lastKind = kTransferDigestList;
            return 0;
        }
        *kind = m_lastKind = description ? kTransferDescription : kTransferFileData;
        return answer;
    }
    int Classify(const char* url) override
    {
        if (!m_digestUrl.empty() && m_digestUrl == url) return kTransferDigestList;
        if (m_url != url) return kTransferNotMine;
        return description ? kTransferDescription : kTransferFileData;
    }

    std::vector<std::string> received;
    bool description = false;
    int answer = 0;

private:
    std::string m_url;
    std::string m_digestUrl;
    int m_lastKind = 0;
};

class Owner : public IDownloadSessionEventListener {
public:
    std::vector<std::string> events;
    std::vector<int64_t> progress;
    std::vector<SessionResult> done;
    std::vector<int> errors;
    bool destroyInside = false;
    std::unique_ptr<CDownloadSession>* owned = nullptr;

    void OnSessionConnected(CDownloadSession*) override { events.push_back("connected"); }
    void OnSessionDone(CDownloadSession*, const SessionResult& result) override
    {
        events.push_back("done");
        done.push_back(result);
        if (destroyInside) owned->reset();
    }
    void OnSessionError(CDownloadSession*, int code) override
    {
        events.push_back("error " + std::to_string(code));
        errors.push_back(code);
        if (destroyInside) owned->reset();
    }
    void OnSessionBegin(CDownloadSession*, const char*, int64_t size) override
    {
        events.push_back("begin " + std::to_string(size));
    }
    void OnSessionProgress(CDownloadSession*, const char*, int64_t bytes) override { progress.push_back(bytes); }
    bool Ended() const { return !done.empty() || !errors.empty(); }
};

class DownloadSessionTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
        network = std::make_unique<CVyx>(lock.As<cpCMutex>());
        session = std::make_unique<CDownloadSession>(&owner, lock.As<cpCMutex>());
        owner.owned = &session;
    }
    void TearDown() override
    {
        session.reset();
        network.reset();
    }
    bool Run(IProgressFile* record, int seconds = 20)
    {
        session->SetRecord(record);
        session->Start();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!owner.Ended()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MSG msg;
            if (GetMessageTimeout(&msg, 20)) DispatchMessage(&msg);
        }
        return true;
    }
    static std::string Bytes(size_t size)
    {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xff);
        return bytes;
    }
    // nginx serving from a folder its workers can walk to.
    bool StartNginx(NginxProcess& nginx)
    {
        char pattern[] = "/tmp/zdr-update-site-XXXXXX";
        if (!mkdtemp(pattern)) return false;
        chmod(pattern, 0755);
        m_siteFolder = pattern;
        return nginx.Start(m_siteFolder);
    }
    void Publish(NginxProcess& nginx, const std::string& path, const std::string& bytes)
    {
        const std::string file = nginx.Root() + path;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        std::filesystem::permissions(file, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    }

    vqSmartPtr lock;
    std::unique_ptr<CVyx> network;
    Owner owner;
    std::unique_ptr<CDownloadSession> session;
    std::string m_siteFolder;
};

std::string Answer200(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TEST_F(DownloadSessionTest, DigestListThenDataFromNginx)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    const std::string data = Bytes(3 * 1024 * 1024 + 17);
    const std::string digest = Bytes(64);
    Publish(nginx, "/engine/ZDRDownloadV32.zip", data);
    Publish(nginx, "/engine/ZDRDownloadV32.zip.md4", digest);
    FakeRecord record(nginx.Url("/engine/ZDRDownloadV32.zip"), nginx.Url("/engine/ZDRDownloadV32.zip.md4"));
    ASSERT_TRUE(Run(&record));
    ASSERT_EQ(owner.errors, std::vector<int>{});
    ASSERT_EQ(record.received.size(), 2u);
    EXPECT_EQ(record.received[0], digest);
    EXPECT_TRUE(record.received[1] == data) << "data differs";
    ASSERT_EQ(owner.done.size(), 1u);
    EXPECT_EQ(owner.done[0].url, nginx.Url("/engine/ZDRDownloadV32.zip"));
    EXPECT_EQ(owner.done[0].kind, IProgressFile::kTransferFileData);
    EXPECT_EQ(owner.done[0].code, 0);
    // Connected twice (two transfers), begin only for the data, done once.
    EXPECT_EQ(owner.events, (std::vector<std::string>{"connected", "connected",
                                                      "begin " + std::to_string(data.size()), "done"}));
    ASSERT_FALSE(owner.progress.empty());
    for (size_t i = 1; i < owner.progress.size(); ++i) EXPECT_LT(owner.progress[i - 1], owner.progress[i]);
    EXPECT_EQ(owner.progress.back(), static_cast<int64_t>(data.size()));
    EXPECT_TRUE(session->IsBusy());
    EXPECT_EQ(session->Kind(), IProgressFile::kTransferFileData);
}

TEST_F(DownloadSessionTest, TheDescriptionAndTheRecordsAnswer)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    const std::string xml = "<?xml version=\"1.0\"?><update><file/><all/></update>";
    Publish(nginx, "/ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml", xml);
    FakeRecord record(nginx.Url("/ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml"));
    record.description = true;
    record.answer = 3;
    ASSERT_TRUE(Run(&record));
    ASSERT_EQ(owner.done.size(), 1u);
    EXPECT_EQ(owner.done[0].kind, IProgressFile::kTransferDescription);
    EXPECT_EQ(owner.done[0].code, 3);
    EXPECT_EQ(record.received, std::vector<std::string>{xml});
    // No progress for anything but file data.
    EXPECT_EQ(owner.events, (std::vector<std::string>{"connected", "done"}));
    EXPECT_TRUE(owner.progress.empty());
}

TEST_F(DownloadSessionTest, NotFoundOnNginxIsABadAnswer)
{
    NginxProcess nginx;
    ASSERT_TRUE(StartNginx(nginx));
    FakeRecord record(nginx.Url("/engine/missing.zip"));
    ASSERT_TRUE(Run(&record));
    EXPECT_EQ(owner.errors, std::vector<int>{SESSION_ERROR_BAD_ANSWER});
    EXPECT_TRUE(record.received.empty());
    EXPECT_FALSE(session->IsBusy());
}

TEST_F(DownloadSessionTest, ScriptedAnswers)
{
    const std::string over = std::to_string(CDownloadSession::kMaxBodyBytes + 1);
    const std::string description(CDownloadSession::kMaxDescriptionBytes, 'd');
    struct Case {
        const char* name;
        std::vector<ScriptedHttpServer::Answer> answers;
        std::vector<std::string> events;
        std::string body;
        size_t requests;
        bool description = false;
        // The record fetches a digest list first.
        bool digestList = false;
    } cases[] = {
        {"200", {{Answer200("engine bytes")}}, {"connected", "begin 12", "done"}, "engine bytes", 1},
        {"excess bytes are not part of the body",
         {{"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabcdEXTRA"}},
         {"connected", "begin 4", "done"},
         "abcd",
         1},
        {"length 0", {{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}}, {"connected", "error 4"}, "", 1},
        {"no length", {{"HTTP/1.1 200 OK\r\n\r\nbody"}}, {"connected", "error 4"}, "", 1},
        {"404", {{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"}}, {"connected", "error 4"}, "", 1},
        {"a redirect is not followed",
         {{"HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n"}, {Answer200("never")}},
         {"connected", "error 4"},
         "",
         1},
        {"length above the bound",
         {{"HTTP/1.1 200 OK\r\nContent-Length: " + over + "\r\n\r\nxx"}},
         {"connected", "error 4"},
         "",
         1},
        {"length beyond any integer",
         {{"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nxx"}},
         {"connected", "error 4"},
         "",
         1},
        {"closed mid-body",
         {{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part"}},
         {"connected", "begin 100", "error 6"},
         "",
         1},
        {"closed before any answer", {{""}}, {"connected", "error 6"}, "", 1},
        {"closed inside the header", {{"HTTP/1.1 200 OK\r\nContent-Len"}}, {"connected", "error 6"}, "", 1},
        {"a description at its bound", {{Answer200(description)}}, {"connected", "done"}, description, 1, true},
        {"a description above its bound (a file's bound is far larger)",
         {{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(description.size() + 1) + "\r\n\r\n" + description + "d"}},
         {"connected", "error 4"},
         "",
         1,
         true},
        {"a digest list above the largest body's (the description's signature comes as one)",
         {{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(CDownloadSession::kMaxDigestListBytes + 1) + "\r\n\r\n" +
           std::string(CDownloadSession::kMaxDigestListBytes + 1, 's')}},
         {"connected", "error 4"},
         "",
         1,
         false,
         true},
    };
    for (const auto& c : cases) {
        owner = Owner();
        owner.owned = &session;
        ScriptedHttpServer server(c.answers);
        FakeRecord record(server.Url("/engine/ZDRDownloadV32.zip"),
                          c.digestList ? server.Url("/engine/ZDRDownloadV32.zip.md4") : "");
        record.description = c.description;
        ASSERT_TRUE(Run(&record)) << c.name;
        EXPECT_EQ(owner.events, c.events) << c.name;
        if (c.body.empty()) {
            EXPECT_TRUE(record.received.empty()) << c.name;
        } else {
            EXPECT_EQ(record.received, std::vector<std::string>{c.body}) << c.name;
        }
        EXPECT_EQ(server.Requests().size(), c.requests) << c.name;
    }
}

TEST_F(DownloadSessionTest, TheOwnerMayDestroyTheSessionWhenItEnds)
{
    owner.destroyInside = true;
    for (const char* answer : {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "HTTP/1.1 404 Not Found\r\n\r\n"}) {
        owner.events.clear();
        owner.done.clear();
        owner.errors.clear();
        session = std::make_unique<CDownloadSession>(&owner, lock.As<cpCMutex>());
        ScriptedHttpServer server({{answer}});
        FakeRecord record(server.Url("/x.zip"));
        ASSERT_TRUE(Run(&record)) << answer;
        EXPECT_EQ(session, nullptr) << answer;
    }
}

TEST_F(DownloadSessionTest, AStalledBodyIsAReceiveTimeout)
{
    ScriptedHttpServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart", false}});
    FakeRecord record(server.Url("/engine.zip"));
    ASSERT_TRUE(Run(&record, 30));
    EXPECT_EQ(owner.events, (std::vector<std::string>{"connected", "begin 100", "error 5"}));
}

TEST_F(DownloadSessionTest, ARefusedConnectIsAnUnreachableServer)
{
    FakeRecord record("http://127.0.0.1:" + std::to_string(RefusedPort()) + "/update.xml");
    ASSERT_TRUE(Run(&record));
    EXPECT_EQ(owner.events, std::vector<std::string>{"error 7"});
}

TEST_F(DownloadSessionTest, AConnectThatIsNeverAnsweredTimesOut)
{
    // A listener whose queue is full leaves a further connect unanswered.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 2; ++i) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
    }
    FakeRecord record("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/update.xml");
    ASSERT_TRUE(Run(&record, 30));
    EXPECT_EQ(owner.events, std::vector<std::string>{"error 3"});
    for (int fd : fillers) close(fd);
    close(listener);
}

TEST_F(DownloadSessionTest, NothingToFetchOrNothingToReach)
{
    FakeRecord none("");
    session->SetRecord(&none);
    session->Start();
    EXPECT_FALSE(session->IsBusy());
    session->SetRecord(nullptr);
    session->Start();
    EXPECT_TRUE(owner.events.empty());
    // A URL the HTTP layer cannot use is reported from inside Start.
    FakeRecord ftp("ftp://127.0.0.1/engine.zip");
    session->SetRecord(&ftp);
    session->Start();
    EXPECT_EQ(owner.events, std::vector<std::string>{"error 7"});
    EXPECT_FALSE(session->IsBusy());
}
