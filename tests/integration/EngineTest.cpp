// The download engine as a real process: jobs sent over the protocol by a
// test client, files served by a real nginx (ranges, a slow limit_rate
// location) and by a fault server for what nginx will not do on demand.

#include "EngineProcess.h"
#include "FaultHttpServer.h"
#include "NginxProcess.h"
#include "RangeAnswer.h"
#include "tools/engine-client/EngineClient.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef EngineClient::File File;

std::string Home()
{
    return getenv("HOME");
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t value = random();
        memcpy(&bytes[i], &value, 8);
    }
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// A location under /slow/ that sends every answer at 4 MiB/s.
void AddSlowLocation(NginxProcess& nginx)
{
    nginx.AddServerConfig("    location /slow/ { alias " + Home() + "/nginx/www/; limit_rate 4m; }\n");
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// What the engine answered to one job.
struct Outcome {
    bool accepted = false;
    int32_t task = 0;
    int64_t totalBytes = 0;
    std::string rejected;
    std::vector<std::string> done;
    std::vector<std::string> sources;
    bool finished = false;
    int32_t valueB = -1;
    int errorKind = 0;
    std::string errorText;
    int asked = 0;
    int progress = 0;
    std::vector<int> codes;
};

// Reads messages until the job ends (or stopAfter() says so), answering
// the resume question with resumeAnswer.
Outcome Drive(EngineClient& client, int32_t job, int resumeAnswer = 1,
              const std::function<bool(const Outcome&)>& stopAfter = nullptr, int timeoutMs = 60000,
              bool applyToAll = false)
{
    Outcome outcome;
    EngineClient::Message message;
    while (client.Next(&message, timeoutMs)) {
        const unsigned char* p = message.payload.data();
        const uint32_t n = static_cast<uint32_t>(message.payload.size());
        outcome.codes.push_back(message.code);
        EXPECT_EQ(message.type, kLocalFrameType);
        switch (message.code) {
        case kLocalJobAccepted: {
            vqLOCALJOBACCEPTED r{};
            EXPECT_TRUE(nwCDNLocalCodec::DecodeJobAccepted(p, n, &r));
            EXPECT_EQ(r.jobNumber, job);
            outcome.accepted = true;
            outcome.task = r.taskNumber;
            outcome.totalBytes = r.totalBytes;
            break;
        }
        case kLocalJobRejected: {
            vqLOCALJOBREJECTED r{};
            EXPECT_TRUE(nwCDNLocalCodec::DecodeJobRejected(p, n, &r));
            outcome.rejected = r.reason;
            return outcome;
        }
        case kLocalJobProgress: {
            vqLOCALPROGRESS r{};
            std::vector<vqLOCALFILERECORD> records;
            EXPECT_TRUE(nwCDNLocalCodec::DecodeProgress(p, n, &r, &records));
            ++outcome.progress;
            break;
        }
        case kLocalFileDone: {
            vqLOCALFILEDONE r{};
            EXPECT_TRUE(nwCDNLocalCodec::DecodeFileDone(p, n, &r));
            // Complete and closed under its final name by now.
            EXPECT_TRUE(Exists(r.localPath)) << r.localPath;
            outcome.done.push_back(r.localPath);
            outcome.sources.push_back(r.source);
            break;
        }
        case kLocalJobError: {
            vqLOCALJOBERROR r{};
            EXPECT_TRUE(nwCDNLocalCodec::DecodeJobError(p, n, &r));
            outcome.errorKind = r.kind;
            outcome.errorText = r.text;
            break;
        }
        case kLocalJobFinished: {
            vqLOCALJOBFINISHED r{};
            EXPECT_TRUE(nwCDNLocalCodec::DecodeJobFinished(p, n, &r));
            outcome.finished = true;
            outcome.valueB = r.valueB;
            return outcome;
        }
        case kLocalAskResume:
            ++outcome.asked;
            client.SendResumeAnswer(outcome.task, job, resumeAnswer == 1, applyToAll);
            break;
        default:
            break;
        }
        if (stopAfter && stopAfter(outcome)) return outcome;
    }
    return outcome;
}

// An HTTP answer for content with an ETag, honouring Range (and If-Range)
// unless told not to.
FaultHttpServer::Answer ServeContent(const std::string& request, const std::string& content, const std::string& etag,
                                     bool honourRange = true)
{
    return {RangeAnswer(request, content, etag, honourRange, true)};
}

class EngineTest : public testing::Test {
protected:
    void SetUp() override
    {
        folder = Home() + "/dl/";
        ASSERT_TRUE(engine.Start());
        ASSERT_TRUE(client.Connect(engine.Port()));
    }
    File Of(const std::string& name, const std::string& url, int64_t size = 0)
    {
        File file;
        file.folder = folder;
        file.name = name;
        file.url = url;
        file.size = size;
        return file;
    }

    std::string folder;
    EngineProcess engine;
    EngineClient client;
};

} // namespace

TEST_F(EngineTest, HighSpeedJobSplitsLargeFilesIntoRangesAndLearnsSizes)
{
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    const std::string big = RandomBytes(40u << 20, 1), small = RandomBytes(300001, 2);
    WriteFile(nginx.Root() + "/big.bin", big);
    WriteFile(nginx.Root() + "/small.bin", small);
    WriteFile(nginx.Root() + "/empty.bin", "");
    ASSERT_TRUE(client.SendJob(3, kLocalOptionsHighSpeed,
                               {Of("big.bin", nginx.Url("/big.bin")), Of("small.bin", nginx.Url("/redirect/small.bin")),
                                Of("empty.bin", nginx.Url("/empty.bin"))}));
    const Outcome outcome = Drive(client, 3);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_EQ(outcome.totalBytes, static_cast<int64_t>(big.size() + small.size()));
    EXPECT_EQ(outcome.done.size(), 3u);
    EXPECT_TRUE(ReadFile(folder + "big.bin") == big);
    EXPECT_TRUE(ReadFile(folder + "small.bin") == small);
    EXPECT_TRUE(Exists(folder + "empty.bin"));
    EXPECT_FALSE(Exists(folder + "big.bin.zdrpart"));
    EXPECT_FALSE(Exists(folder + "big.bin.zdrctl"));
    // More than one range request for the big file.
    const std::string log = nginx.AccessLogWith("GET /big.bin HTTP/1.1\" 206", 3);
    size_t ranges = 0;
    for (size_t at = 0; (at = log.find("GET /big.bin HTTP/1.1\" 206", at)) != std::string::npos; ++at) ++ranges;
    EXPECT_GE(ranges, 3u); // the probe and at least two ranges
}

TEST_F(EngineTest, SizeProbesLeaveTheirConnectionsOpenForTheTransfers)
{
    // Files of unknown size are probed first; each probe's connection then
    // carries a transfer instead of a new one being opened for it.
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    constexpr int kFiles = 12;
    std::vector<std::string> contents;
    std::vector<File> files;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        contents.push_back(RandomBytes(200000 + static_cast<size_t>(i) * 999, 60 + static_cast<unsigned>(i)));
        WriteFile(nginx.Root() + "/" + name, contents.back());
        files.push_back(Of(name, nginx.Url("/" + name)));
    }
    ASSERT_TRUE(client.SendJob(12, kLocalOptionsHighSpeed, files));
    const Outcome outcome = Drive(client, 12);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    int64_t total = 0;
    for (const std::string& content : contents) total += static_cast<int64_t>(content.size());
    EXPECT_EQ(outcome.totalBytes, total);
    for (int i = 0; i < kFiles; ++i)
        EXPECT_TRUE(ReadFile(folder + "f" + std::to_string(i) + ".bin") == contents[static_cast<size_t>(i)]) << i;
    std::istringstream lines(nginx.AccessLogWith("connection=", 2 * kFiles));
    std::set<std::string> connections;
    size_t probes = 0, transfers = 0;
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("connection=");
        ASSERT_NE(at, std::string::npos) << line;
        connections.insert(line.substr(at));
        (line.find("HTTP/1.1\" 206 1 ") != std::string::npos ? probes : transfers) += 1;
    }
    EXPECT_EQ(probes, static_cast<size_t>(kFiles));
    EXPECT_EQ(transfers, static_cast<size_t>(kFiles));
    EXPECT_LE(connections.size(), static_cast<size_t>(kFiles)) << nginx.AccessLog();
}

TEST_F(EngineTest, APartFileThatCannotBeMadeGivesTheJobUp)
{
    // Part files are made off the event loop; a file that cannot be made
    // still ends the job (given up: the client's plain path takes over) and
    // nothing appears under its final name.
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    std::vector<File> files;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "m" + std::to_string(i) + ".bin";
        WriteFile(nginx.Root() + "/" + name, RandomBytes(50000, 90 + static_cast<unsigned>(i)));
        files.push_back(Of(name, nginx.Url("/" + name), 50000));
    }
    std::filesystem::create_directories(folder + "m37.bin.zdrpart");
    ASSERT_TRUE(client.SendJob(13, kLocalOptionsHighSpeed, files));
    const Outcome outcome = Drive(client, 13);
    ASSERT_TRUE(outcome.accepted);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 1);
    EXPECT_FALSE(Exists(folder + "m37.bin"));
    EXPECT_LT(outcome.done.size(), files.size());
    for (const std::string& done : outcome.done) EXPECT_EQ(std::filesystem::file_size(done), 50000u) << done;
}

TEST_F(EngineTest, ManySmallFilesOfKnownSizeAllArriveWhole)
{
    // More files than connections and than files made ahead: every one is
    // made, fetched, and reported once, under its own name.
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    constexpr int kFiles = 120;
    std::vector<std::string> contents;
    std::vector<File> files;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "s" + std::to_string(i) + ".bin";
        contents.push_back(RandomBytes(30000 + static_cast<size_t>(i) * 17, 200 + static_cast<unsigned>(i)));
        WriteFile(nginx.Root() + "/" + name, contents.back());
        files.push_back(Of(name, nginx.Url("/" + name), static_cast<int64_t>(contents.back().size())));
    }
    for (const bool highSpeed : {true, false}) {
        for (int i = 0; i < kFiles; ++i) std::filesystem::remove(folder + "s" + std::to_string(i) + ".bin");
        const int32_t job = highSpeed ? 14 : 15;
        ASSERT_TRUE(client.SendJob(job, highSpeed ? kLocalOptionsHighSpeed : kLocalOptionsPlain, files));
        const Outcome outcome = Drive(client, job);
        ASSERT_TRUE(outcome.finished) << highSpeed;
        EXPECT_EQ(outcome.valueB, 0);
        std::set<std::string> done(outcome.done.begin(), outcome.done.end());
        EXPECT_EQ(done.size(), static_cast<size_t>(kFiles));
        EXPECT_EQ(outcome.done.size(), static_cast<size_t>(kFiles));
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "s" + std::to_string(i) + ".bin";
            EXPECT_TRUE(ReadFile(folder + name) == contents[static_cast<size_t>(i)]) << name;
            EXPECT_FALSE(Exists(folder + name + ".zdrpart")) << name;
        }
    }
}

TEST_F(EngineTest, PlainJobFetchesOneFileAfterTheOtherOverOneConnectionEach)
{
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    const std::string a = RandomBytes(40u << 20, 3), b = RandomBytes(1000, 4);
    WriteFile(nginx.Root() + "/a.bin", a);
    WriteFile(nginx.Root() + "/b.bin", b);
    // Sizes given: no probe, and one plain GET per file.
    ASSERT_TRUE(client.SendJob(4, kLocalOptionsPlain,
                               {Of("a.bin", nginx.Url("/a.bin"), static_cast<int64_t>(a.size())),
                                Of("b.bin", nginx.Url("/b.bin"), static_cast<int64_t>(b.size()))},
                               true));
    const Outcome outcome = Drive(client, 4);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_EQ(outcome.done, (std::vector<std::string>{folder + "a.bin", folder + "b.bin"}));
    EXPECT_TRUE(ReadFile(folder + "a.bin") == a);
    EXPECT_TRUE(ReadFile(folder + "b.bin") == b);
    const std::string log = nginx.AccessLogWith("HTTP/1.1\"", 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_EQ(log.find(" 206 "), std::string::npos) << log;
}

TEST_F(EngineTest, OnlyAFileThatWaitsForAServerCountsTimeWithoutData)
{
    NginxProcess nginx;
    AddSlowLocation(nginx);
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    // The first file takes four times the bound, with data all along; the
    // second waits behind it for nobody.
    const std::string a = RandomBytes(8u << 20, 13), b = RandomBytes(1000, 14);
    WriteFile(nginx.Root() + "/a.bin", a);
    WriteFile(nginx.Root() + "/b.bin", b);
    engine.Stop();
    ASSERT_TRUE(engine.Start({ZDR_ENGINE_PATH}, {"ZDR_ENGINE_NO_DATA_SECONDS=1"}));
    ASSERT_TRUE(client.Connect(engine.Port()));
    ASSERT_TRUE(client.SendJob(41, kLocalOptionsPlain,
                               {Of("a.bin", nginx.Url("/slow/a.bin"), static_cast<int64_t>(a.size())),
                                Of("b.bin", nginx.Url("/slow/b.bin"), static_cast<int64_t>(b.size()))}));
    const Outcome outcome = Drive(client, 41);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_TRUE(ReadFile(folder + "a.bin") == a);
    EXPECT_TRUE(ReadFile(folder + "b.bin") == b);
}

TEST_F(EngineTest, JobsThatCannotRunAreRejectedWithAReason)
{
    WriteFile(Home() + "/plainfile", "x");
    const struct {
        std::vector<File> files;
        const char* reason;
    } cases[] = {
        {{}, "no files"},
        {{Of("", "http://127.0.0.1:1/a")}, "bad file name"},
        {{Of(".", "http://127.0.0.1:1/a")}, "bad file name"},
        {{Of("..", "http://127.0.0.1:1/a")}, "bad file name"},
        {{Of("x/y", "http://127.0.0.1:1/a")}, "bad file name"},
        {{Of("a", "ftp://127.0.0.1/a|file:///etc/passwd")}, "cannot fetch"},
        {{Of("a", "http://127.0.0.1:1/a"), Of("a", "http://127.0.0.1:1/b")}, "file named twice"},
        {{Of("a", "http://127.0.0.1:1/a"), Of("a.zdrpart", "http://127.0.0.1:1/b")}, "named like a temporary file"},
        {{Of("a.zdrctl", "http://127.0.0.1:1/a"), Of("a", "http://127.0.0.1:1/b")}, "named like a temporary file"},
    };
    int32_t job = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ASSERT_TRUE(client.SendJob(++job, kLocalOptionsHighSpeed, c.files));
        const Outcome outcome = Drive(client, job);
        EXPECT_NE(outcome.rejected.find(c.reason), std::string::npos) << outcome.rejected;
        EXPECT_FALSE(outcome.accepted);
    }
    File blocked = Of("a", "http://127.0.0.1:1/a");
    blocked.folder = Home() + "/plainfile/sub/";
    ASSERT_TRUE(client.SendJob(++job, kLocalOptionsHighSpeed, {blocked}));
    EXPECT_NE(Drive(client, job).rejected.find("cannot make folder"), std::string::npos);
    // A running job's file, and the names of its part and control files, are
    // not another job's to take.
    const std::string slow = RandomBytes(2u << 20, 16);
    FaultHttpServer server([&](const std::string& request, int) {
        FaultHttpServer::Answer answer = ServeContent(request, slow, "\"r\"");
        answer.trickleMs = 300;
        return answer;
    });
    ASSERT_TRUE(client.SendJob(40, kLocalOptionsHighSpeed, {Of("r.bin", server.Url("/r.bin"), 2 << 20)}));
    const Outcome running = Drive(client, 40, 1, [](const Outcome& o) { return o.accepted; });
    ASSERT_TRUE(running.accepted);
    for (const char* name : {"r.bin", "r.bin.zdrpart", "r.bin.zdrctl"}) {
        ASSERT_TRUE(client.SendJob(++job, kLocalOptionsHighSpeed, {Of(name, "http://127.0.0.1:1/x", 1)}));
        EXPECT_NE(Drive(client, job).rejected.find("already downloading"), std::string::npos) << name;
    }
    ASSERT_TRUE(client.SendStop(40, running.task));
    // The connection still serves: a status request is answered.
    ASSERT_TRUE(client.SendFrame(kLocalFrameType, kLocalStatus, {}));
    EngineClient::Message message;
    ASSERT_TRUE(client.Next(&message, 5000));
    EXPECT_EQ(message.code, kLocalStatus);
}

TEST_F(EngineTest, AMalformedJobClosesTheConnection)
{
    ASSERT_TRUE(client.SendFrame(kLocalJobFrameType, kLocalJob, {1, 0, 0, 0, 5, 0, 0, 0})); // 5 files in 8 bytes
    EngineClient::Message message;
    EXPECT_FALSE(client.Next(&message, 5000));
    EngineClient again;
    EXPECT_TRUE(again.Connect(engine.Port()));
}

// Whether the engine closes the connection within timeoutMs; what it sends
// before is read and dropped.
bool ClosedByEngine(EngineClient& client, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{client.Fd(), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
        unsigned char buffer[65536];
        if (recv(client.Fd(), buffer, sizeof buffer, 0) <= 0) return true;
    }
}

TEST_F(EngineTest, ClientsThatWouldHoldTheEnginesMemoryAreCutOff)
{
    // A frame announced far longer than any the protocol sends: the engine
    // does not wait for it.
    {
        EngineClient huge;
        ASSERT_TRUE(huge.Connect(engine.Port()));
        EngineClient::Bytes frame = nwCDNLocalCodec::Frame(kLocalFrameType, kLocalJobFile, EngineClient::Bytes(200u << 10, 'x'));
        const uint32_t announced = 4u << 20;
        memcpy(&frame[10], &announced, 4);
        ASSERT_TRUE(huge.SendRaw(frame));
        EXPECT_TRUE(ClosedByEngine(huge));
    }
    // A job announcing more files than any job has is refused before a file arrives.
    {
        EngineClient many;
        ASSERT_TRUE(many.Connect(engine.Port()));
        vqLOCALJOBHEADER header{70, INT32_MAX, {}};
        ASSERT_TRUE(many.SendFrame(kLocalFrameType, kLocalJobHeader, nwCDNLocalCodec::EncodeJobHeader(header)));
        EXPECT_NE(Drive(many, 70, 1, nullptr, 5000).rejected.find("too many files"), std::string::npos);
    }
    // The files of a job still arriving count against what all clients may
    // hold: long URLs by the hundred do not pile up.
    {
        EngineClient bulky;
        ASSERT_TRUE(bulky.Connect(engine.Port()));
        vqLOCALJOBHEADER header{71, kLocalMaxJobFiles, {}};
        ASSERT_TRUE(bulky.SendFrame(kLocalFrameType, kLocalJobHeader, nwCDNLocalCodec::EncodeJobHeader(header)));
        const std::string url = "http://127.0.0.1:1/" + std::string(60000, 'u');
        vqLOCALJOBFILE record{};
        strcpy(record.folder, folder.c_str());
        record.url = url.c_str();
        constexpr int kFiles = 1100; // some 64 MiB in all
        int sent = 0;
        for (; sent < kFiles; ++sent) {
            snprintf(record.fileName, sizeof record.fileName, "f%d.bin", sent);
            EngineClient::Bytes payload;
            ASSERT_TRUE(nwCDNLocalCodec::EncodeJobFile(71, sent, record, &payload));
            if (!bulky.SendFrame(kLocalFrameType, kLocalJobFile, payload)) break;
        }
        EXPECT_TRUE(ClosedByEngine(bulky));
        EXPECT_LT(sent, kFiles);
    }
    // A client that asks and never reads the answers is no longer read from
    // once its answers wait; when it takes them, every one is there and it
    // is served again.
    {
        EngineClient deaf;
        ASSERT_TRUE(deaf.Connect(engine.Port()));
        const EngineClient::Bytes request = nwCDNLocalCodec::Frame(kLocalFrameType, kLocalStatus, {});
        const size_t replySize = nwCDNLocalCodec::Frame(kLocalFrameType, kLocalStatus, nwCDNLocalCodec::EncodeStatus(0)).size();
        EngineClient::Bytes batch;
        for (int i = 0; i < 4096; ++i) batch.insert(batch.end(), request.begin(), request.end());
        const int fd = deaf.Fd();
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        size_t sentBytes = 0;
        bool stalled = false;
        while (!stalled && sentBytes < (64u << 20)) {
            const size_t offset = sentBytes % request.size();
            const ssize_t n = send(fd, batch.data() + offset, batch.size() - offset, MSG_NOSIGNAL);
            if (n > 0) {
                sentBytes += static_cast<size_t>(n);
                continue;
            }
            ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << strerror(errno);
            pollfd p{fd, POLLOUT, 0};
            stalled = poll(&p, 1, 2000) == 0;
        }
        EXPECT_TRUE(stalled) << sentBytes << " bytes of requests all taken";
        size_t received = 0;
        bool open = true;
        auto take = [&] {
            unsigned char buffer[65536];
            ssize_t n;
            while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) received += static_cast<size_t>(n);
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) open = false;
        };
        // The request cut in two goes whole, the answers being taken meanwhile.
        while (open && sentBytes % request.size() != 0) {
            take();
            const size_t offset = sentBytes % request.size();
            const ssize_t n = send(fd, request.data() + offset, request.size() - offset, MSG_NOSIGNAL);
            if (n > 0) sentBytes += static_cast<size_t>(n);
            pollfd p{fd, POLLIN | POLLOUT, 0};
            if (n <= 0 && poll(&p, 1, 5000) != 1) break;
        }
        const size_t expected = sentBytes / request.size() * replySize;
        while (open && received < expected) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1) break;
            take();
        }
        EXPECT_TRUE(open);
        EXPECT_EQ(received, expected);
    }
}

TEST_F(EngineTest, ARangeDroppedInTheMiddleIsFetchedAgainFromWhereItStopped)
{
    const std::string content = RandomBytes(6u << 20, 5);
    FaultHttpServer server([&](const std::string& request, int index) {
        FaultHttpServer::Answer answer = ServeContent(request, content, "\"v1\"");
        if (index == 0) answer.cutAfter = answer.bytes.size() / 3; // the connection drops
        return answer;
    });
    ASSERT_TRUE(client.SendJob(5, kLocalOptionsHighSpeed, {Of("f.bin", server.Url("/f.bin"), 6 << 20)}));
    const Outcome outcome = Drive(client, 5);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_TRUE(ReadFile(folder + "f.bin") == content);
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), 2u);
    const std::string range = FaultHttpServer::Header(requests[1].text, "Range");
    EXPECT_EQ(range.rfind("bytes=", 0), 0u);
    EXPECT_NE(range, "bytes=0-");
    EXPECT_EQ(FaultHttpServer::Header(requests[1].text, "If-Range"), "\"v1\"");
}

TEST_F(EngineTest, AServerThatIgnoresRangeGetsOneConnectionFromByteZero)
{
    const std::string content = RandomBytes(40u << 20, 6);
    FaultHttpServer server([&](const std::string& request, int) { return ServeContent(request, content, "\"x\"", false); });
    ASSERT_TRUE(client.SendJob(6, kLocalOptionsHighSpeed,
                               {Of("f.bin", server.Url("/f.bin"), static_cast<int64_t>(content.size()))}));
    const Outcome outcome = Drive(client, 6);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_TRUE(ReadFile(folder + "f.bin") == content);
}

TEST_F(EngineTest, RetryAfterIsHonouredBeforeTheNextAttempt)
{
    const std::string content = RandomBytes(100000, 7);
    FaultHttpServer server([&](const std::string& request, int index) {
        if (index == 0)
            return FaultHttpServer::Answer{"HTTP/1.1 503 Busy\r\nRetry-After: 2\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
        return ServeContent(request, content, "\"r\"");
    });
    ASSERT_TRUE(client.SendJob(7, kLocalOptionsHighSpeed, {Of("f.bin", server.Url("/f.bin"), 100000)}));
    const Outcome outcome = Drive(client, 7);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_TRUE(ReadFile(folder + "f.bin") == content);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_GE(requests[1].at - requests[0].at, 1.9);
}

TEST_F(EngineTest, AMissingFirstAlternativeFallsToTheSecond)
{
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    const std::string content = RandomBytes(500000, 8);
    WriteFile(nginx.Root() + "/good.bin", content);
    ASSERT_TRUE(client.SendJob(8, kLocalOptionsHighSpeed,
                               {Of("f.bin", nginx.Url("/missing.bin") + "|" + nginx.Url("/good.bin"))}));
    const Outcome outcome = Drive(client, 8);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_EQ(outcome.sources, std::vector<std::string>{nginx.Url("/good.bin")});
    EXPECT_TRUE(ReadFile(folder + "f.bin") == content);
}

TEST_F(EngineTest, AJobIsGivenUpOnlyWhenNoAlternativeWorks)
{
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    ASSERT_TRUE(client.SendJob(9, kLocalOptionsHighSpeed,
                               {Of("f.bin", nginx.Url("/gone1.bin") + "|" + nginx.Url("/gone2.bin"), 1000)}));
    const Outcome outcome = Drive(client, 9);
    ASSERT_TRUE(outcome.finished);
    EXPECT_NE(outcome.valueB, 0);
    EXPECT_FALSE(Exists(folder + "f.bin"));
}

TEST_F(EngineTest, AFileThatChangedBetweenRunsStartsOver)
{
    // The same length in both versions, so only a validator can tell them
    // apart: a part is continued only under one that If-Range can carry.
    struct Case {
        const char* first;  // the validator of the first version ("": none)
        const char* second; // of the version the next run finds
        bool continued;     // the part is offered for a resume, under If-Range
    };
    const Case cases[] = {
        {"\"one\"", "\"two\"", true},
        {"", "", false},
        {"W/\"one\"", "W/\"two\"", false},
    };
    int32_t job = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("validator ") + c.first);
        std::filesystem::remove_all(folder);
        const std::string first = RandomBytes(3u << 20, 9), second = RandomBytes(3u << 20, 10);
        std::atomic<bool> changed{false};
        FaultHttpServer server([&](const std::string& request, int) {
            if (!changed) {
                FaultHttpServer::Answer answer = ServeContent(request, first, c.first);
                answer.trickleMs = 100; // slow enough to be stopped in the middle
                return answer;
            }
            return ServeContent(request, second, c.second);
        });
        const File file = Of("f.bin", server.Url("/f.bin"), 3 << 20);
        ASSERT_TRUE(client.SendJob(job, kLocalOptionsHighSpeed, {file}));
        Drive(client, job++, 1, [](const Outcome& o) { return o.progress >= 2; });
        EXPECT_EQ(engine.Stop(), 0);
        ASSERT_TRUE(Exists(folder + "f.bin.zdrctl"));
        EXPECT_FALSE(Exists(folder + "f.bin"));
        changed = true;
        ASSERT_TRUE(engine.Start());
        ASSERT_TRUE(client.Connect(engine.Port()));
        ASSERT_TRUE(client.SendJob(job, kLocalOptionsHighSpeed, {file}));
        const Outcome outcome = Drive(client, job++, 1);
        EXPECT_EQ(outcome.asked, c.continued ? 1 : 0);
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.valueB, 0);
        EXPECT_TRUE(ReadFile(folder + "f.bin") == second) << "the file is not the server's";
        const auto requests = server.Requests();
        bool askedIfRange = false;
        for (const auto& request : requests) {
            const std::string ifRange = FaultHttpServer::Header(request.text, "If-Range");
            askedIfRange |= !ifRange.empty() && ifRange == c.first;
        }
        EXPECT_EQ(askedIfRange, c.continued);
    }
}

// A 206 whose total is not the size the job gave is no part of the file:
// the file is never restarted at that size (nor that much reserved), and
// when every attempt says so the job is given up with both sizes named.
TEST_F(EngineTest, ATotalThatIsNotTheSizeTheJobGaveIsNeverTakenNorReserved)
{
    const std::string content = RandomBytes(300000, 12);
    FaultHttpServer server([&](const std::string& request, int) {
        FaultHttpServer::Answer answer = ServeContent(request, content, "\"t\"");
        if (FaultHttpServer::Header(request, "Range").empty()) {
            answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100000;
            return answer;
        }
        const size_t total = answer.bytes.find("/300000\r\n");
        answer.bytes.replace(total + 1, 6, "3000000");
        return answer;
    });
    ASSERT_TRUE(client.SendJob(22, kLocalOptionsHighSpeed, {Of("t.bin", server.Url("/f.bin"), 300000)}));
    const Outcome outcome = Drive(client, 22);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 1);
    EXPECT_EQ(outcome.errorKind, kLocalErrorTransfer);
    EXPECT_EQ(outcome.errorText, folder + "t.bin: the server's length 3000000 is not the file's size 300000");
    EXPECT_FALSE(Exists(folder + "t.bin"));
    struct stat part;
    ASSERT_EQ(stat((folder + "t.bin.zdrpart").c_str(), &part), 0);
    EXPECT_LE(part.st_size, 300000);
    EXPECT_LE(part.st_blocks * 512, 300000 + 4096);
}

TEST_F(EngineTest, StoppedMidwayBySigtermResumesWithFewerBytes)
{
    NginxProcess nginx;
    AddSlowLocation(nginx);
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    const std::string content = RandomBytes(64u << 20, 11);
    WriteFile(nginx.Root() + "/big.bin", content);
    const File file = Of("big.bin", nginx.Url("/slow/big.bin"), static_cast<int64_t>(content.size()));
    ASSERT_TRUE(client.SendJob(30, kLocalOptionsHighSpeed, {file}));
    Drive(client, 30, 1, [](const Outcome& o) { return o.progress >= 2; });
    EXPECT_EQ(engine.Stop(), 0);
    ASSERT_TRUE(Exists(folder + "big.bin.zdrctl"));
    EXPECT_FALSE(Exists(folder + "big.bin"));
    // nginx logs the cut requests once it notices the closed connections.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t before = nginx.AccessLog().size();

    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(client.Connect(engine.Port()));
    ASSERT_TRUE(client.SendJob(31, kLocalOptionsHighSpeed, {file}));
    const Outcome outcome = Drive(client, 31, 1, nullptr, 120000);
    EXPECT_EQ(outcome.asked, 1);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_TRUE(ReadFile(folder + "big.bin") == content);
    // Bytes the server sent after the restart, from its access log.
    std::istringstream after(nginx.AccessLog().substr(before));
    std::string line;
    long long sent = 0;
    while (std::getline(after, line)) {
        std::istringstream fields(line.substr(line.find("\" ") + 2));
        long long status = 0, bytes = 0;
        fields >> status >> bytes;
        EXPECT_EQ(status, 206) << line;
        sent += bytes;
    }
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<long long>(content.size()));
}

TEST_F(EngineTest, LinksAtTheNamesOfItsTemporariesAreNotFollowed)
{
    // Someone who can write into the download folder puts links where a part
    // file and a control file go: neither leads the engine's writes elsewhere.
    const std::string victim = Home() + "/victim";
    WriteFile(victim, "precious");
    std::filesystem::create_directories(folder);
    const std::string content = RandomBytes(2u << 20, 15);
    FaultHttpServer server([&](const std::string& request, int) {
        FaultHttpServer::Answer answer = ServeContent(request, content, "\"l\"");
        answer.trickleMs = 100;
        return answer;
    });
    ASSERT_EQ(symlink(victim.c_str(), (folder + "l.bin.zdrpart").c_str()), 0);
    ASSERT_TRUE(client.SendJob(80, kLocalOptionsHighSpeed, {Of("l.bin", server.Url("/l.bin"), 2 << 20)}));
    const Outcome linked = Drive(client, 80);
    ASSERT_TRUE(linked.finished);
    EXPECT_NE(linked.valueB, 0);
    EXPECT_TRUE(ReadFile(victim) == "precious");
    EXPECT_FALSE(Exists(folder + "l.bin"));

    // Stopped midway, the engine keeps its control file; a link at the name
    // it is written under first is not followed either.
    ASSERT_EQ(symlink(victim.c_str(), (folder + "k.bin.zdrctl.tmp").c_str()), 0);
    ASSERT_TRUE(client.SendJob(81, kLocalOptionsHighSpeed, {Of("k.bin", server.Url("/k.bin"), 2 << 20)}));
    Drive(client, 81, 1, [](const Outcome& o) { return o.progress >= 1; });
    EXPECT_EQ(engine.Stop(), 0);
    EXPECT_TRUE(ReadFile(victim) == "precious");
    EXPECT_FALSE(Exists(folder + "k.bin"));
}

TEST_F(EngineTest, TheInstanceLockIsKeptInAFolderOnlyItsUserReaches)
{
    engine.Stop();
    client.Close();
    const std::string uid = std::to_string(geteuid());
    const std::string lockName = "/ZDRDownloadV32-" + uid + "-" + std::to_string(engine.Port()) + ".lock";
    // Without a runtime folder of the user's own, the lock goes into a folder
    // made for it under TMPDIR, closed to others.
    const std::string open = Home() + "/open-runtime";
    std::filesystem::create_directories(open);
    chmod(open.c_str(), 0777);
    for (const std::string& runtime : {std::string(), open}) {
        SCOPED_TRACE(runtime);
        const std::string temporary = Home() + "/tmp" + std::to_string(runtime.size());
        std::filesystem::create_directories(temporary);
        EngineProcess alone(engine.Port());
        ASSERT_TRUE(alone.Start({ZDR_ENGINE_PATH}, {"XDG_RUNTIME_DIR=" + runtime, "TMPDIR=" + temporary}));
        struct stat info{};
        ASSERT_EQ(lstat((temporary + "/zdr-" + uid).c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_TRUE(Exists(temporary + "/zdr-" + uid + lockName));
        EXPECT_FALSE(Exists(open + lockName));
        EXPECT_EQ(alone.Stop(), 0);
    }
    // A folder under that name that someone else could have put there is
    // not used: the engine does not start.
    const struct {
        const char* name;
        std::function<void(const std::string&)> make;
    } taken[] = {
        {"a link to a folder", [](const std::string& at) {
             std::filesystem::create_directories(at + ".real");
             chmod((at + ".real").c_str(), 0700);
             ASSERT_EQ(symlink((at + ".real").c_str(), at.c_str()), 0);
         }},
        {"a folder open to others", [](const std::string& at) {
             std::filesystem::create_directories(at);
             chmod(at.c_str(), 0755);
         }},
        {"a file", [](const std::string& at) { WriteFile(at, ""); }},
    };
    int n = 0;
    for (const auto& c : taken) {
        SCOPED_TRACE(c.name);
        const std::string temporary = Home() + "/taken" + std::to_string(++n);
        std::filesystem::create_directories(temporary);
        c.make(temporary + "/zdr-" + uid);
        EngineProcess refused(engine.Port());
        EXPECT_FALSE(refused.Start({ZDR_ENGINE_PATH}, {"XDG_RUNTIME_DIR=", "TMPDIR=" + temporary}));
        EXPECT_EQ(refused.WaitFor(10000), 1);
    }
}

TEST_F(EngineTest, AfterAPowerCutTheControlFileCountsOnlyBytesThatSurvived)
{
    NginxProcess nginx;
    AddSlowLocation(nginx);
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    const std::string content = RandomBytes(32u << 20, 12);
    WriteFile(nginx.Root() + "/big.bin", content);
    const File file = Of("big.bin", nginx.Url("/slow/big.bin"), static_cast<int64_t>(content.size()));
    // The machine loses what was not on disk yet when a control file is
    // put in place, or when a later one is about to replace it.
    struct Case {
        const char* at;     // the how-manieth control file
        const char* before; // "1": before it replaces the last one
    };
    const Case cases[] = {{"1", "0"}, {"2", "1"}};
    // A sanitizer build's engine has to accept a library loaded ahead of its runtime.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
    int32_t job = 32;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("control file ") + c.at + (c.before[0] == '1' ? ", before it is in place" : ""));
        std::filesystem::remove_all(folder);
        engine.Stop();
        ASSERT_TRUE(engine.Start({ZDR_ENGINE_PATH}, {"LD_PRELOAD=" ZDR_POWER_CUT_PATH, std::string("ZDR_POWER_CUT_AT=") + c.at,
                                                     std::string("ZDR_POWER_CUT_BEFORE=") + c.before, asanOptions}));
        ASSERT_TRUE(client.Connect(engine.Port()));
        ASSERT_TRUE(client.SendJob(job, kLocalOptionsHighSpeed, {file}));
        EXPECT_FALSE(Drive(client, job++).finished);
        EXPECT_EQ(engine.Wait(), 128 + SIGKILL);
        ASSERT_TRUE(Exists(folder + "big.bin.zdrctl"));

        ASSERT_TRUE(engine.Start());
        ASSERT_TRUE(client.Connect(engine.Port()));
        ASSERT_TRUE(client.SendJob(job, kLocalOptionsHighSpeed, {file}));
        const Outcome outcome = Drive(client, job++, 1, nullptr, 120000);
        EXPECT_EQ(outcome.asked, 1);
        ASSERT_TRUE(outcome.finished);
        EXPECT_EQ(outcome.valueB, 0);
        EXPECT_TRUE(ReadFile(folder + "big.bin") == content) << "the resumed file is not the server's";
    }
}

TEST_F(EngineTest, ALargeFileWhoseConnectionsRunSlowGetsMoreOfThem)
{
    // 80 MiB: a share of five connections. It starts with four; at 4 MiB/s
    // each they are slow, so a fifth joins while they still run, on a
    // connection of its own. Without that, the fifth range would wait for
    // one of the four to end and reuse its connection.
    NginxProcess nginx;
    AddSlowLocation(nginx);
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    const std::string content = RandomBytes(80u << 20, 12);
    WriteFile(nginx.Root() + "/wide.bin", content);
    ASSERT_TRUE(client.SendJob(32, kLocalOptionsHighSpeed,
                               {Of("wide.bin", nginx.Url("/slow/wide.bin"), static_cast<int64_t>(content.size()))}));
    const Outcome outcome = Drive(client, 32, 1, nullptr, 60000);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_TRUE(ReadFile(folder + "wide.bin") == content);
    const std::string log = nginx.AccessLog();
    std::set<std::string> connections;
    for (size_t at = 0; (at = log.find("connection=", at)) != std::string::npos; ++at)
        connections.insert(log.substr(at, log.find('\n', at) - at));
    EXPECT_EQ(connections.size(), 5u) << log;
}

TEST_F(EngineTest, NotEnoughDiskSpaceIsReportedAndLeavesNoFile)
{
    if (system("unshare -rm true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no private mount namespace here";
    engine.Stop();
    const std::string small = Home() + "/small";
    std::filesystem::create_directories(small);
    EngineProcess confined;
    ASSERT_TRUE(confined.Start({"unshare", "-rm", "sh", "-c",
                                "mount -t tmpfs -o size=4m tmpfs '" + small + "' && exec '" ZDR_ENGINE_PATH "'"}));
    EngineClient inside;
    ASSERT_TRUE(inside.Connect(confined.Port()));
    File file = Of("f.bin", "http://127.0.0.1:1/f.bin", 8 << 20);
    file.folder = small + "/";
    ASSERT_TRUE(inside.SendJob(40, kLocalOptionsHighSpeed, {file}));
    const Outcome outcome = Drive(inside, 40);
    EXPECT_EQ(outcome.errorKind, kLocalErrorDiskSpace);
    ASSERT_TRUE(outcome.finished);
    EXPECT_NE(outcome.valueB, 0);
    // The engine's own view of the small volume: nothing under the final
    // name, and nothing left of the attempt.
    const std::string view = "/proc/" + std::to_string(confined.Pid()) + "/root" + small;
    ASSERT_TRUE(std::filesystem::is_directory(view));
    EXPECT_TRUE(std::filesystem::is_empty(view));
    EXPECT_EQ(confined.Stop(), 0);
}

TEST_F(EngineTest, AClientOfAnotherUserIsRefused)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as nobody";
    if (system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "no setpriv";
    const std::string command = "setpriv --reuid=nobody --regid=nogroup --clear-groups '" ZDR_ENGINE_CLIENT_PATH
                                "' --port " + std::to_string(engine.Port()) + " --folder /tmp/zdr-nobody http://127.0.0.1:1/a >/dev/null 2>&1";
    const int status = system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 3); // closed before any answer
    // Our own user is still served.
    ASSERT_TRUE(client.SendFrame(kLocalFrameType, kLocalStatus, {}));
    EngineClient::Message message;
    ASSERT_TRUE(client.Next(&message, 5000));
    EXPECT_EQ(message.code, kLocalStatus);
}

TEST_F(EngineTest, ASecondStartOnTheSamePortSaysReadyAndExitsAtOnce)
{
    EngineProcess second(engine.Port());
    std::vector<std::string> argv = {ZDR_ENGINE_PATH};
    const auto start = std::chrono::steady_clock::now();
    // The engine the client wants serves the port: the second start says
    // so, then leaves it to the first.
    EXPECT_TRUE(second.Start(argv));
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_TRUE(client.SendFrame(kLocalFrameType, kLocalStatus, {}));
    EngineClient::Message message;
    EXPECT_TRUE(client.Next(&message, 5000));
}

// libcurl is loaded only once the port is ours: a second start does without
// it, and a first start that cannot load it says so and fails.
TEST_F(EngineTest, LibcurlIsLoadedOnlyToServeAndItsAbsenceIsReported)
{
    const std::string libs = Home() + "/broken-libs";
    std::filesystem::create_directories(libs);
    WriteFile(libs + "/libcurl.so.4", "");
    const std::string errors = Home() + "/engine-errors.txt";
    const auto run = [&](uint16_t port) {
        const std::string command = "ZDR_ENGINE_PORT=" + std::to_string(port) + " LD_LIBRARY_PATH='" + libs + "' '" +
                                    ZDR_ENGINE_PATH + "' >/dev/null 2>'" + errors + "'";
        const int status = system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run(engine.Port()), 0);
    EXPECT_EQ(ReadFile(errors), "");
    EXPECT_EQ(run(EngineProcess::FreePort()), 1);
    EXPECT_NE(ReadFile(errors).find("cannot load libcurl.so.4"), std::string::npos) << ReadFile(errors);
}

TEST_F(EngineTest, NetworkLossAndReturnAreReported)
{
    engine.Stop();
    const std::string flag = Home() + "/online";
    WriteFile(flag, "");
    EngineProcess watched;
    ASSERT_TRUE(watched.Start({ZDR_ENGINE_PATH}, {"ZDR_ENGINE_CONNECTIVITY_FILE=" + flag}));
    EngineClient watcher;
    ASSERT_TRUE(watcher.Connect(watched.Port()));
    const std::string content = RandomBytes(2u << 20, 12);
    FaultHttpServer server([&](const std::string& request, int) {
        FaultHttpServer::Answer answer = ServeContent(request, content, "\"n\"");
        answer.trickleMs = 300;
        return answer;
    });
    ASSERT_TRUE(watcher.SendJob(50, kLocalOptionsHighSpeed, {Of("f.bin", server.Url("/f.bin"), 2 << 20)}));
    Drive(watcher, 50, 1, [&](const Outcome& o) { return o.progress >= 1; });
    unlink(flag.c_str());
    Outcome lost = Drive(watcher, 50, 1, [](const Outcome& o) { return !o.codes.empty() && o.codes.back() == kLocalNetworkLost; }, 5000);
    ASSERT_FALSE(lost.codes.empty());
    EXPECT_EQ(lost.codes.back(), kLocalNetworkLost);
    WriteFile(flag, "");
    Outcome restored = Drive(watcher, 50, 1, [](const Outcome& o) { return !o.codes.empty() && o.codes.back() == kLocalNetworkRestored; }, 5000);
    ASSERT_FALSE(restored.codes.empty());
    EXPECT_EQ(restored.codes.back(), kLocalNetworkRestored);
}

TEST_F(EngineTest, HttpsIsVerifiedAgainstTheCertificatesItIsGiven)
{
    const std::string pki = Home() + "/pki";
    std::filesystem::create_directories(pki);
    const std::string make =
        "cd '" + pki + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=ZdrTestCA"
        " && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1"
        " && printf 'subjectAltName=IP:127.0.0.1\\nbasicConstraints=CA:FALSE\\n' > ext.cnf"
        " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2"
        " -extfile ext.cnf";
    ASSERT_EQ(system(("(" + make + ") >/dev/null 2>&1").c_str()), 0);
    const uint16_t tlsPort = EngineProcess::FreePort();
    NginxProcess nginx;
    nginx.AddServerConfig("    listen 127.0.0.1:" + std::to_string(tlsPort) + " ssl;\n    ssl_certificate " + pki +
                          "/server.pem;\n    ssl_certificate_key " + pki + "/server.key;\n");
    ASSERT_TRUE(nginx.Start(Home() + "/nginx"));
    const std::string content = RandomBytes(3u << 20, 13);
    WriteFile(nginx.Root() + "/s.bin", content);
    const std::string url = "https://127.0.0.1:" + std::to_string(tlsPort) + "/s.bin";

    // The system store does not know the test's authority: no byte is taken.
    engine.Stop();
    EngineProcess systemStore;
    ASSERT_TRUE(systemStore.Start({ZDR_ENGINE_PATH}, {"SSL_CERT_FILE=/etc/ssl/certs/ca-certificates.crt"}));
    ASSERT_TRUE(client.Connect(systemStore.Port()));
    ASSERT_TRUE(client.SendJob(60, kLocalOptionsHighSpeed, {Of("s.bin", url, 3 << 20)}));
    Outcome refused = Drive(client, 60);
    ASSERT_TRUE(refused.finished);
    EXPECT_NE(refused.valueB, 0);
    EXPECT_FALSE(Exists(folder + "s.bin"));

    EngineProcess trusting;
    ASSERT_TRUE(trusting.Start({ZDR_ENGINE_PATH}, {"SSL_CERT_FILE=" + pki + "/ca.pem"}));
    EngineClient tls;
    ASSERT_TRUE(tls.Connect(trusting.Port()));
    ASSERT_TRUE(tls.SendJob(61, kLocalOptionsHighSpeed, {Of("s.bin", url, 3 << 20)}));
    Outcome outcome = Drive(tls, 61, 0);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_TRUE(ReadFile(folder + "s.bin") == content);

    // The same authority's certificate with the host only in its common name
    // (no subjectAltName) is refused, as the plain path refuses it: no
    // request reaches the server and no byte is taken.
    const std::string makeCnOnly =
        "cd '" + pki + "' && openssl req -newkey rsa:2048 -nodes -keyout cn.key -out cn.csr -subj /CN=127.0.0.1"
        " && printf 'basicConstraints=CA:FALSE\\n' > cn.cnf"
        " && openssl x509 -req -in cn.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out cn.pem -days 2 -extfile cn.cnf";
    ASSERT_EQ(system(("(" + makeCnOnly + ") >/dev/null 2>&1").c_str()), 0);
    const uint16_t cnPort = EngineProcess::FreePort();
    NginxProcess cnOnly;
    cnOnly.AddServerConfig("    listen 127.0.0.1:" + std::to_string(cnPort) + " ssl;\n    ssl_certificate " + pki +
                           "/cn.pem;\n    ssl_certificate_key " + pki + "/cn.key;\n");
    ASSERT_TRUE(cnOnly.Start(Home() + "/nginx-cn"));
    WriteFile(cnOnly.Root() + "/c.bin", content);
    ASSERT_TRUE(tls.SendJob(62, kLocalOptionsHighSpeed,
                            {Of("c.bin", "https://127.0.0.1:" + std::to_string(cnPort) + "/c.bin", 3 << 20)}));
    Outcome impostor = Drive(tls, 62, 0);
    ASSERT_TRUE(impostor.finished);
    EXPECT_NE(impostor.valueB, 0);
    EXPECT_FALSE(Exists(folder + "c.bin"));
    EXPECT_EQ(cnOnly.AccessLog(), "");
}

TEST_F(EngineTest, AnIdleEngineExitsOnlyWithNoClientAndNoJob)
{
    engine.Stop();
    client.Close();
    const std::vector<std::string> shortIdle = {"ZDR_ENGINE_IDLE_SECONDS=1"};

    // Nobody ever connects: it leaves by itself, cleanly, after the idle time.
    EngineProcess alone;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(alone.Start({ZDR_ENGINE_PATH}, shortIdle));
    EXPECT_EQ(alone.WaitFor(10000), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));

    // A job that runs three times the idle time keeps it; so does its client
    // after the job; only once the client has gone does it leave.
    const std::string content = RandomBytes(1u << 20, 14);
    FaultHttpServer server([&](const std::string& request, int) {
        FaultHttpServer::Answer answer = ServeContent(request, content, "\"i\"");
        answer.trickleMs = 200; // 16 pieces of 64 KiB: about 3 s
        return answer;
    });
    EngineProcess busy;
    ASSERT_TRUE(busy.Start({ZDR_ENGINE_PATH}, shortIdle));
    EngineClient user;
    ASSERT_TRUE(user.Connect(busy.Port()));
    start = std::chrono::steady_clock::now();
    ASSERT_TRUE(user.SendJob(70, kLocalOptionsHighSpeed, {Of("i.bin", server.Url("/i.bin"), 1 << 20)}));
    const Outcome outcome = Drive(user, 70);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.valueB, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_TRUE(ReadFile(folder + "i.bin") == content);
    EXPECT_EQ(busy.WaitFor(2000), -2) << "left while its client was still connected";
    ASSERT_TRUE(user.SendFrame(kLocalFrameType, kLocalStatus, {}));
    EngineClient::Message message;
    EXPECT_TRUE(user.Next(&message, 5000));
    user.Close();
    EXPECT_EQ(busy.WaitFor(10000), 0);
}

TEST_F(EngineTest, ApplyToAllAnswersTheResumeQuestionOfLaterJobs)
{
    const std::string a = RandomBytes(3u << 20, 15), b = RandomBytes(3u << 20, 16);
    FaultHttpServer server([&](const std::string& request, int) {
        const bool isA = request.find("GET /a.bin") != std::string::npos;
        FaultHttpServer::Answer answer = ServeContent(request, isA ? a : b, isA ? "\"a\"" : "\"b\"");
        answer.trickleMs = 100;
        return answer;
    });
    const File fileA = Of("a.bin", server.Url("/a.bin"), 3 << 20), fileB = Of("b.bin", server.Url("/b.bin"), 3 << 20);
    // Both files are left half done.
    ASSERT_TRUE(client.SendJob(80, kLocalOptionsHighSpeed, {fileA, fileB}));
    Drive(client, 80, 1, [](const Outcome& o) { return o.progress >= 2; });
    EXPECT_EQ(engine.Stop(), 0);
    ASSERT_TRUE(Exists(folder + "a.bin.zdrctl"));
    ASSERT_TRUE(Exists(folder + "b.bin.zdrctl"));

    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(client.Connect(engine.Port()));
    const size_t before = server.Requests().size();
    ASSERT_TRUE(client.SendJob(81, kLocalOptionsHighSpeed, {fileA}));
    const Outcome first = Drive(client, 81, 1, nullptr, 60000, true);
    EXPECT_EQ(first.asked, 1);
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.valueB, 0);
    // The second job is not asked again: the first answer, continue, holds.
    ASSERT_TRUE(client.SendJob(82, kLocalOptionsHighSpeed, {fileB}));
    const Outcome second = Drive(client, 82, 0);
    EXPECT_EQ(second.asked, 0);
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.valueB, 0);
    EXPECT_TRUE(ReadFile(folder + "a.bin") == a);
    EXPECT_TRUE(ReadFile(folder + "b.bin") == b);
    // b.bin was continued, not started over: no request for it from byte 0.
    const auto requests = server.Requests();
    size_t forB = 0;
    for (size_t i = before; i < requests.size(); ++i) {
        if (requests[i].text.find("GET /b.bin") == std::string::npos) continue;
        ++forB;
        EXPECT_EQ(FaultHttpServer::Header(requests[i].text, "If-Range"), "\"b\"");
        EXPECT_EQ(FaultHttpServer::Header(requests[i].text, "Range").rfind("bytes=0-", 0), std::string::npos)
            << requests[i].text;
    }
    EXPECT_GE(forB, 1u);
}
