// The engine downloader on a scripted engine connection (the real client
// layer on a scripted context) with an injected clock and connectivity, and
// no launcher: the tests play the launcher's events. What reaches the wire
// is decoded frame by frame with the protocol's codec.

#include "ScriptedConnection.h"
#include "engine/ActivityLog.h"
#include "engine/CEngineLauncher.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/layers/nwCDNLocalCodec.h"
#include "platform/Connectivity.h"
#include "service/CEngineDownloader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

int64_t g_now = 1000;
int64_t Clock()
{
    return g_now;
}

bool g_online = true;
bool Connectivity()
{
    return g_online;
}

std::unique_ptr<CEngineLauncher> NoLauncher(cpCMutex*)
{
    return nullptr;
}

// Who holds the engine's port, as the kernel's socket table would say, and
// which ports were looked up.
long g_portOwner = 0;
std::vector<std::pair<uint16_t, uint16_t>> g_ownerLookups;
long PortOwner(uint16_t peerPort, uint16_t localPort)
{
    g_ownerLookups.emplace_back(peerPort, localPort);
    return g_portOwner;
}

std::vector<std::pair<int, int>> g_events;
void Record(int code, int param, const void*)
{
    g_events.emplace_back(code, param);
}

std::string ReadLog()
{
    char path[4096];
    LogPath(path, sizeof path);
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// Opens BeginJob for the second-start case.
class TestableEngineDownloader : public CEngineDownloader {
public:
    using CEngineDownloader::BeginJob;
    using CEngineDownloader::CEngineDownloader;
};

// The job manager's side: records the calls; giving the engine path up
// destroys the downloader, as the real manager does.
class Manager : public IJobDownloadEventListener {
public:
    std::unique_ptr<TestableEngineDownloader>* owner = nullptr;
    std::vector<std::string> calls;
    void OnEngineUpdateBegin(const char* name, unsigned int low, int) override
    {
        calls.push_back(std::string("update begin ") + name + " " + std::to_string(low));
    }
    void OnEngineUpdateProgress(const char* url, unsigned int low, int) override
    {
        calls.push_back(std::string("update progress ") + url + " " + std::to_string(low));
    }
    void OnEngineUpdateSucceeded() override { calls.push_back("update succeeded"); }
    void OnEngineUpdateFailed() override { calls.push_back("update failed"); }
    void OnEngineUnavailable() override
    {
        calls.push_back("unavailable");
        owner->reset();
    }
    void OnJobFallback(int job) override { calls.push_back("fallback " + std::to_string(job)); }
    void OnPathAccessFailed(int kind) override { calls.push_back("path failed " + std::to_string(kind)); }
    void OnEngineStatus(int status) override { calls.push_back("status " + std::to_string(status)); }
};

struct Frame {
    uint16_t type;
    uint16_t code;
    std::vector<unsigned char> payload;
};

// Cuts the client's bytes into frames (14-byte header, padded payload).
std::vector<Frame> Frames(const std::string& wire)
{
    std::vector<Frame> frames;
    size_t at = 0;
    while (at + 14 <= wire.size()) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(wire.data() + at);
        Frame frame;
        frame.type = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
        frame.code = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
        const uint32_t length = bytes[10] | bytes[11] << 8 | bytes[12] << 16 | static_cast<uint32_t>(bytes[13]) << 24;
        frame.payload.assign(bytes + 14, bytes + 14 + length);
        frames.push_back(std::move(frame));
        at += 14 + length;
    }
    EXPECT_EQ(at, wire.size()) << "a frame is cut short";
    return frames;
}

std::vector<uint16_t> Codes(const std::vector<Frame>& frames)
{
    std::vector<uint16_t> codes;
    for (const Frame& frame : frames) codes.push_back(frame.code);
    return codes;
}

class EngineDownloaderTest : public testing::Test {
protected:
    void SetUp() override
    {
        ScriptedConnection::Install();
        SetConnectivityCheckForTesting(&Connectivity);
        setenv("ZDR_ENGINE_PORT", "40123", 1);
        g_now = 1000;
        g_online = true;
        g_events.clear();
        g_portOwner = static_cast<long>(geteuid());
        g_ownerLookups.clear();
        LogReset();
        folder = std::string(getenv("HOME")) + "/dl/";
        ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
        manager.owner = &downloader;
        downloader =
            std::make_unique<TestableEngineDownloader>(&manager, lock.As<cpCMutex>(), &Clock, &NoLauncher, &PortOwner);
    }
    void TearDown() override
    {
        downloader.reset();
        jobs.clear();
        unsetenv("ZDR_ENGINE_PORT");
        SetConnectivityCheckForTesting(nullptr);
        ScriptedConnection::Uninstall();
    }
    CJob* NewJob(int files = 1, size_t urlLength = 20, const char* tag = "zdr")
    {
        CEventTarget target;
        target.callback = &Record;
        const int number = static_cast<int>(jobs.size());
        jobs.push_back(std::make_unique<CJob>(0x100 + number, number, tag, "svc-of-job", target));
        CJob* job = jobs.back().get();
        for (int i = 0; i < files; ++i) {
            std::string url = "http://files.test/" + std::to_string(i) + "/";
            url += std::string(urlLength - url.size(), 'u');
            EXPECT_EQ(job->AddFile(url.c_str(), folder.c_str(), ("f" + std::to_string(i)).c_str(), 100, 1, 0), DL_OK);
        }
        return job;
    }
    // The launcher reported ready and the engine accepted the connection.
    ScriptedConnection& Connect()
    {
        const size_t before = ScriptedConnection::Count();
        downloader->OnEngineReady();
        EXPECT_EQ(ScriptedConnection::Count(), before + 1);
        ScriptedConnection& connection = ScriptedConnection::At(before);
        connection.PeerAccept();
        return connection;
    }
    void Answer(ScriptedConnection& connection, uint16_t code, const nwCDNLocalCodec::Bytes& payload)
    {
        const nwCDNLocalCodec::Bytes frame = nwCDNLocalCodec::Frame(kLocalFrameType, code, payload);
        connection.Answer(std::string(frame.begin(), frame.end()));
    }
    void Accept(ScriptedConnection& connection, CJob* job, int32_t task, int64_t total = 100)
    {
        Answer(connection, kLocalJobAccepted,
               nwCDNLocalCodec::EncodeJobAccepted({job->Number(), task, static_cast<int32_t>(job->Files().size()), total}));
    }
    // Every file of the job on disk, of the job's size.
    void PutOnDisk(CJob* job)
    {
        for (const auto& file : job->Files()) {
            std::filesystem::create_directories(file->folder);
            std::ofstream(file->LocalPath(), std::ios::binary | std::ios::trunc)
                << std::string(static_cast<size_t>(file->size), 'x');
        }
    }
    std::vector<int> Notices(CJob* job)
    {
        std::vector<int> codes;
        for (;;) {
            DlNotice notice{0, nullptr};
            job->PopNotice(&notice);
            if (notice.code == DL_NOTICE_NONE) return codes;
            codes.push_back(notice.code);
        }
    }

    vqSmartPtr lock;
    Manager manager;
    std::string folder;
    std::vector<std::unique_ptr<CJob>> jobs;
    std::unique_ptr<TestableEngineDownloader> downloader;
};

} // namespace

TEST_F(EngineDownloaderTest, AJobStartedBeforeTheConnectionIsSentOnConnectedAndASecondStartAnswers517)
{
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    EXPECT_EQ(ScriptedConnection::Count(), 0u);
    downloader->SetServiceId("the-service");
    downloader->OnEngineReady();
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    ScriptedConnection& connection = ScriptedConnection::At(0);
    EXPECT_EQ(connection.connectedTo.ip, 0x0100007Fu);
    EXPECT_EQ(connection.connectedTo.port, 40123);
    EXPECT_EQ(connection.connectTimeout, 1);
    EXPECT_EQ(connection.openAction, 1);
    EXPECT_EQ(connection.eventMask, 1u);
    // Nothing is queued before the listener on the port proves to be ours.
    EXPECT_TRUE(connection.wire.empty());
    EXPECT_EQ(manager.calls, (std::vector<std::string>{"update succeeded"}));

    connection.PeerAccept();
    EXPECT_EQ(g_ownerLookups, (std::vector<std::pair<uint16_t, uint16_t>>{{40123, 50123}}));
    std::vector<Frame> frames = Frames(connection.wire);
    ASSERT_EQ(Codes(frames), (std::vector<uint16_t>{kLocalServiceId, kLocalJobTag, kLocalJobOptions, kLocalJob}));
    std::string id;
    ASSERT_TRUE(nwCDNLocalCodec::DecodeServiceId(frames[0].payload.data(), frames[0].payload.size(), &id));
    EXPECT_EQ(id, "the-service");
    EXPECT_EQ(frames[3].type, kLocalJobFrameType);
    nwLocalJob sent;
    ASSERT_TRUE(nwCDNLocalCodec::DecodeJob(frames[3].payload.data(), frames[3].payload.size(), &sent));
    EXPECT_EQ(sent.jobNumber, job->Number());
    EXPECT_EQ(sent.serviceId, "svc-of-job");
    ASSERT_EQ(sent.files.size(), 1u);
    EXPECT_EQ(sent.files[0].folder, folder);
    EXPECT_EQ(sent.files[0].fileName, "f0");
    EXPECT_EQ(sent.files[0].url, job->Files()[0]->url);
    EXPECT_EQ(sent.files[0].size, 100);
    EXPECT_EQ(sent.files[0].flagA, 1);
    std::string tag;
    ASSERT_TRUE(nwCDNLocalCodec::DecodeJobTag(frames[1].payload.data(), frames[1].payload.size(), &tag));
    EXPECT_EQ(tag, "zdr");

    const size_t wire = connection.wire.size();
    EXPECT_EQ(downloader->BeginJob(job), DL_ERR_GENERAL);
    EXPECT_EQ(downloader->StartJob(job), DL_ERR_ALREADY_RUNNING);
    EXPECT_EQ(connection.wire.size(), wire);
    EXPECT_EQ(downloader->RequestCount(), 1u);
}

TEST_F(EngineDownloaderTest, TheJobsModeAndEngineFlagChooseWhatPrecedesTheJob)
{
    struct Case {
        int mode;
        bool engineFlag;
        const char* tag;
        uint8_t options;
        std::vector<uint16_t> codes;
    } cases[] = {
        {0, false, "zdr", kLocalOptionsPlain, {kLocalJobTag, kLocalJobOptions, kLocalJob}},
        {1, false, "zdr", kLocalOptionsHighSpeed, {kLocalJobTag, kLocalJobOptions, kLocalJob}},
        {2, false, "", kLocalOptionsHighSpeed, {kLocalJobOptions, kLocalJob}},
        {0, true, "", kLocalOptionsPlain, {kLocalJobOptions, kLocalEngineFlag, kLocalJob}},
    };
    ScriptedConnection& connection = Connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        CJob* job = NewJob(1, 20, c.tag);
        job->SetMode(c.mode);
        if (c.engineFlag) job->SetEngineFlag();
        connection.wire.clear();
        ASSERT_EQ(downloader->StartJob(job), DL_OK);
        const std::vector<Frame> frames = Frames(connection.wire);
        ASSERT_EQ(Codes(frames), c.codes);
        const Frame& options = frames[c.tag[0] ? 1 : 0];
        ASSERT_EQ(options.payload.size(), 18u); // 14 + 17 padded to a multiple of 8
        EXPECT_EQ(options.payload[0], c.options);
        for (size_t i = 1; i < 17; ++i) EXPECT_EQ(options.payload[i], 0) << i;
        if (c.engineFlag) {
            int32_t number = -1;
            ASSERT_TRUE(nwCDNLocalCodec::DecodeJobNumber(frames[1].payload.data(), frames[1].payload.size(), &number));
            EXPECT_EQ(number, job->Number());
        }
    }
}

TEST_F(EngineDownloaderTest, ALargeJobGoesAsHeaderFilesAndEndAndASmallerOneAsOneMessage)
{
    struct Case {
        int files;
        size_t urlLength;
        bool single;
    } cases[] = {
        {199, 120, true},                                // 41 + 199 * 651 = 129590
        {200, 120, false},                               // 41 + 200 * 651 = 130241
        {2, 64472, true},                                // 41 + 2 * 65003 = 130047, one below the limit
        {29, 3952, false},                               // 41 + 29 * 4483 = 130048, the limit
    };
    ScriptedConnection& connection = Connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.files) + " files of " + std::to_string(c.urlLength));
        CJob* job = NewJob(c.files, c.urlLength, "");
        connection.wire.clear();
        ASSERT_EQ(downloader->StartJob(job), DL_OK);
        std::vector<Frame> frames = Frames(connection.wire);
        ASSERT_EQ(frames.front().code, kLocalJobOptions);
        frames.erase(frames.begin());
        nwLocalJob sent;
        if (c.single) {
            ASSERT_EQ(Codes(frames), (std::vector<uint16_t>{kLocalJob}));
            ASSERT_TRUE(nwCDNLocalCodec::DecodeJob(frames[0].payload.data(), frames[0].payload.size(), &sent));
        } else {
            ASSERT_EQ(frames.size(), static_cast<size_t>(c.files) + 2);
            EXPECT_EQ(frames.front().code, kLocalJobHeader);
            EXPECT_EQ(frames.back().code, kLocalJobEnd);
            ASSERT_TRUE(nwCDNLocalCodec::DecodeJobHeader(frames[0].payload.data(), frames[0].payload.size(), &sent));
            for (int i = 0; i < c.files; ++i) {
                const Frame& frame = frames[static_cast<size_t>(i) + 1];
                ASSERT_EQ(frame.code, kLocalJobFile);
                int32_t number = -1;
                int32_t index = -1;
                nwLocalJobFile file;
                ASSERT_TRUE(nwCDNLocalCodec::DecodeJobFile(frame.payload.data(), frame.payload.size(), &number, &index, &file));
                EXPECT_EQ(number, job->Number());
                EXPECT_EQ(index, i);
                sent.files.push_back(file);
            }
            int32_t end = -1;
            ASSERT_TRUE(nwCDNLocalCodec::DecodeJobNumber(frames.back().payload.data(), frames.back().payload.size(), &end));
            EXPECT_EQ(end, job->Number());
        }
        EXPECT_EQ(sent.fileCount, c.files);
        ASSERT_EQ(sent.files.size(), static_cast<size_t>(c.files));
        for (int i = 0; i < c.files; ++i) {
            EXPECT_EQ(sent.files[static_cast<size_t>(i)].url, job->Files()[static_cast<size_t>(i)]->url);
            EXPECT_EQ(sent.files[static_cast<size_t>(i)].fileName, "f" + std::to_string(i));
        }
    }
}

TEST_F(EngineDownloaderTest, TheEnginesReportsBecomeTheJobsEvents)
{
    ScriptedConnection& connection = Connect();
    CJob* job = NewJob(2);
    PutOnDisk(job);
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    const int h = job->Handle();
    Accept(connection, job, 77, 200);
    EXPECT_EQ(job->EngineTaskNumber(), 77);
    // Reports for another task of the job are not this request's.
    vqLOCALFILEDONE stray{job->Number(), 78, {}, {}, "elsewhere"};
    Answer(connection, kLocalFileDone, nwCDNLocalCodec::EncodeFileDone(stray));
    vqLOCALFILEDONE done{job->Number(), 77, {}, {}, "src"};
    const std::string first = folder + "f0";
    strcpy(done.localPath, first.c_str());
    Answer(connection, kLocalFileDone, nwCDNLocalCodec::EncodeFileDone(done));
    vqLOCALFILEDONEEX doneEx{job->Number(), 77, {}, {}, "second", "src2"};
    const std::string second = folder + "f1";
    strcpy(doneEx.localPath, second.c_str());
    strcpy(doneEx.secondText, "second");
    Answer(connection, kLocalFileDoneEx, nwCDNLocalCodec::EncodeFileDoneEx(doneEx));
    Answer(connection, kLocalJobError, nwCDNLocalCodec::EncodeJobError({job->Number(), 77, kLocalErrorDiskSpace, "full", {}}));
    Answer(connection, kLocalJobError, nwCDNLocalCodec::EncodeJobError({job->Number(), 77, 3, "other", {}}));
    Answer(connection, kLocalJobError,
           nwCDNLocalCodec::EncodeJobError({job->Number(), 77, kLocalErrorTransfer, "/dl/f2: why it failed", {}}));
    Answer(connection, kLocalNetworkLost, nwCDNLocalCodec::EncodeNetworkNotice({}));
    Answer(connection, kLocalNetworkRestored, nwCDNLocalCodec::EncodeNetworkNotice({}));
    Answer(connection, kLocalStatus, nwCDNLocalCodec::EncodeStatus(4));
    Answer(connection, kLocalAskResume, nwCDNLocalCodec::EncodeAskResume(job->Number()));
    Answer(connection, kLocalJobFinished, nwCDNLocalCodec::EncodeJobFinished({job->Number(), 77, 0, 2, 0}));
    EXPECT_EQ(g_events, (std::vector<std::pair<int, int>>{{DL_EVENT_JOB_SIZE, h},
                                                          {DL_EVENT_FILE_DONE, h},
                                                          {DL_EVENT_FILE_DONE, h},
                                                          {DL_EVENT_NOTICE, h},
                                                          {DL_EVENT_NOTICE, h},
                                                          {DL_EVENT_NOTICE, h},
                                                          {DL_EVENT_ASK_RESUME, h},
                                                          {DL_EVENT_JOB_COMPLETE, h}}));
    EXPECT_EQ(Notices(job), (std::vector<int>{DL_NOTICE_DISK_FULL, DL_NOTICE_NETWORK_LOST, DL_NOTICE_NETWORK_RESTORED}));
    // Other errors are no notice; the log keeps their cause.
    EXPECT_NE(ReadLog().find("[MeshpullLib] CEngineDownloader Job Error (2): /dl/f2: why it failed"), std::string::npos);
    EXPECT_NE(ReadLog().find("[MeshpullLib] CEngineDownloader Job Error (3): other"), std::string::npos);
    DlFileDone record{};
    job->PopFileDone(&record);
    EXPECT_STREQ(record.text, ("src," + first).c_str());
    job->PopFileDone(&record);
    EXPECT_STREQ(record.text, "src2,second");
    DlJobResult result{};
    job->TakeResult(&result);
    EXPECT_EQ(result.valueA, 2);
    EXPECT_EQ(manager.calls.back(), "status 4");
    EXPECT_FALSE(downloader->Holds(job, false));
    EXPECT_EQ(downloader->RequestCount(), 0u);
    EXPECT_EQ(job->State(), JobState::Completed);
}

TEST_F(EngineDownloaderTest, AJobTheEngineRejectsOrGivesUpLeavesWithItsNotice)
{
    ScriptedConnection& connection = Connect();
    CJob* rejected = NewJob();
    CJob* givenUp = NewJob();
    ASSERT_EQ(downloader->StartJob(rejected), DL_OK);
    ASSERT_EQ(downloader->StartJob(givenUp), DL_OK);
    Answer(connection, kLocalJobRejected, nwCDNLocalCodec::EncodeJobRejected({rejected->Number(), 0, "bad folder", {}}));
    EXPECT_FALSE(downloader->Holds(rejected, false));
    DlNotice notice{0, nullptr};
    char text[64] = {};
    ASSERT_EQ(rejected->NoticeSize(), 11);
    notice.text = text;
    rejected->PopNotice(&notice);
    EXPECT_EQ(notice.code, DL_NOTICE_DOWNLOAD_FAILED);
    EXPECT_STREQ(text, "bad folder");

    Accept(connection, givenUp, 5);
    Answer(connection, kLocalJobFinished, nwCDNLocalCodec::EncodeJobFinished({givenUp->Number(), 5, 0, 0, 1}));
    EXPECT_EQ(Notices(givenUp), (std::vector<int>{DL_NOTICE_ENGINE_GAVE_UP}));
    EXPECT_FALSE(downloader->Holds(givenUp, false));
    EXPECT_FALSE(downloader->Ticking());
    EXPECT_EQ(manager.calls.back(), "fallback " + std::to_string(givenUp->Handle()));
    EXPECT_EQ(givenUp->State(), JobState::Running);
}

TEST_F(EngineDownloaderTest, ProgressIsBuiltStepByStep)
{
    ScriptedConnection& connection = Connect();
    CJob* job = NewJob(3);
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    Accept(connection, job, 9, 3000);
    struct Step {
        int64_t elapsed;
        int32_t rate;
        int64_t present;
        int32_t filesCompleted;
        bool fileRecord;
        int32_t fileRate;
        // expected
        int32_t speed;
        int64_t remaining;
        int32_t percent;
        int32_t fileIndex;
        int64_t fileSpeed;
        int64_t fileRemaining;
    } steps[] = {
        // Speed 0: the remaining time is the bytes left.
        {0, 0, 0, 0, false, 0, 0, 3000, 0, 0, 0, 0},
        {1, 100, 100, 0, true, 50, 100, 29, 3, 0, 50, 18},
        {2, 300, 1000, 1, true, 150, 200, 10, 33, 1, 100, 9},
        // Samples older than ten seconds drop out of the means; the file's
        // speed is 0 then, and its remaining time its bytes left.
        {13, 600, 2950, 5, true, 0, 600, 0, 98, 2, 0, 900},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.elapsed);
        vqLOCALPROGRESS record{};
        record.jobNumber = job->Number();
        record.taskNumber = 9;
        record.fileCount = 3;
        record.filesCompleted = s.filesCompleted;
        record.totalBytes = 3000;
        record.bytesPresent = s.present;
        record.rate = s.rate;
        record.elapsedSeconds = s.elapsed;
        std::vector<vqLOCALFILERECORD> files(1);
        files[0].fileSize = 1000;
        files[0].bytesPresent = 100;
        files[0].rate = s.fileRate;
        files[0].text = "";
        record.recordCount = s.fileRecord ? 1 : 0;
        record.records = s.fileRecord ? files.data() : nullptr;
        Answer(connection, kLocalJobProgress, nwCDNLocalCodec::EncodeProgress(record));
        const DlProgress& p = job->Progress();
        EXPECT_EQ(p.totalBytes, 3000);
        EXPECT_EQ(p.bytesPresent, s.present);
        EXPECT_EQ(p.fileCount, 3);
        EXPECT_EQ(p.filesDone, s.filesCompleted);
        EXPECT_EQ(p.elapsedSeconds, s.elapsed);
        EXPECT_EQ(p.speed, s.speed);
        EXPECT_EQ(p.remainingSeconds, s.remaining);
        EXPECT_EQ(p.percent, s.percent);
        EXPECT_EQ(p.fileIndex, s.fileIndex);
        EXPECT_STREQ(p.fileName, ("f" + std::to_string(s.fileIndex)).c_str());
        EXPECT_EQ(p.fileSize, s.fileRecord ? 1000 : 0);
        EXPECT_EQ(p.fileBytesPresent, s.fileRecord ? 100 : 0);
        EXPECT_EQ(p.filePercent, s.fileRecord ? 10 : 0);
        EXPECT_EQ(p.speed64, s.fileSpeed);
        EXPECT_EQ(p.remainingSeconds64, s.fileRemaining);
    }
}

TEST_F(EngineDownloaderTest, ResumeAnswersAndStopsGoToTheEngine)
{
    ScriptedConnection& connection = Connect();
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    Accept(connection, job, 31);
    connection.wire.clear();
    EXPECT_EQ(downloader->HandleResumeAnswer(job, 1, 0), DL_OK);
    EXPECT_EQ(downloader->StopJob(job), DL_OK);
    const std::vector<Frame> frames = Frames(connection.wire);
    ASSERT_EQ(Codes(frames), (std::vector<uint16_t>{kLocalResumeAnswer, kLocalStopJob}));
    vqLOCALRESUMEANSWER answer{};
    ASSERT_TRUE(nwCDNLocalCodec::DecodeResumeAnswer(frames[0].payload.data(), frames[0].payload.size(), &answer));
    EXPECT_EQ(answer.taskNumber, 31);
    EXPECT_EQ(answer.jobNumber, job->Number());
    EXPECT_EQ(answer.resume, 1);
    EXPECT_EQ(answer.applyToAll, 0);
    int32_t number = -1;
    int32_t task = -1;
    ASSERT_TRUE(nwCDNLocalCodec::DecodeStopJob(frames[1].payload.data(), frames[1].payload.size(), &number, &task));
    EXPECT_EQ(number, job->Number());
    EXPECT_EQ(task, 31);
    EXPECT_EQ(downloader->RequestCount(), 0u);
    // Once the job is no longer held, an answer is refused and nothing is sent.
    connection.wire.clear();
    EXPECT_EQ(downloader->HandleResumeAnswer(job, 1, 1), DL_ERR_NOT_HELD);
    EXPECT_TRUE(connection.wire.empty());
}

TEST_F(EngineDownloaderTest, TheServiceIdentifierGoesOutAtOnceWhileConnected)
{
    ScriptedConnection& connection = Connect();
    connection.wire.clear();
    downloader->SetServiceId("later");
    const std::vector<Frame> frames = Frames(connection.wire);
    ASSERT_EQ(Codes(frames), (std::vector<uint16_t>{kLocalServiceId}));
    std::string id;
    ASSERT_TRUE(nwCDNLocalCodec::DecodeServiceId(frames[0].payload.data(), frames[0].payload.size(), &id));
    EXPECT_EQ(id, "later");
}

TEST_F(EngineDownloaderTest, ALostConnectionRelaunchesAndSendsTheJobAgain)
{
    ScriptedConnection& first = Connect();
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    Accept(first, job, 3);
    first.PeerClose();
    EXPECT_EQ(downloader->LaunchAttempts(), 2);
    EXPECT_EQ(downloader->RequestCount(), 0u);
    EXPECT_TRUE(downloader->Holds(job, false));
    ScriptedConnection& second = Connect();
    const std::vector<Frame> frames = Frames(second.wire);
    EXPECT_EQ(Codes(frames), (std::vector<uint16_t>{kLocalServiceId, kLocalJobTag, kLocalJobOptions, kLocalJob}));
    EXPECT_EQ(Count(ReadLog(), "[MeshpullLib] localClosed()\r\n"), 1u);
}

TEST_F(EngineDownloaderTest, TheSixthCloseInARowGivesTheEnginePathUp)
{
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    for (int close = 1; close <= 6; ++close) {
        SCOPED_TRACE(close);
        ASSERT_TRUE(downloader);
        EXPECT_EQ(downloader->LaunchAttempts(), close);
        downloader->OnEngineReady();
        // A refused connect: the time-out, then the close.
        ScriptedConnection::At(ScriptedConnection::Count() - 1).RefuseConnect();
    }
    EXPECT_FALSE(downloader);
    EXPECT_EQ(manager.calls.back(), "unavailable");
    const std::string log = ReadLog();
    EXPECT_EQ(Count(log, "[MeshpullLib] localClosed()\r\n"), 6u);
    EXPECT_EQ(Count(log, "[MeshpullLib] CEngineDownloader MaxTry Over\r\n"), 1u);
    EXPECT_EQ(Count(log, "[MeshpullLib] CEngineDownloader Destroy\r\n"), 1u);
    EXPECT_LT(log.find("MaxTry Over"), log.find("CEngineDownloader Destroy"));
}

TEST_F(EngineDownloaderTest, ACloseMoreThanThirtySecondsAfterAConnectionStartsTheCountAgain)
{
    struct Case {
        int64_t lasted;
        bool givenUpAtSixth;
    } cases[] = {{30, true}, {31, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lasted);
        downloader =
            std::make_unique<TestableEngineDownloader>(&manager, lock.As<cpCMutex>(), &Clock, &NoLauncher, &PortOwner);
        for (int close = 1; close <= 4; ++close) {
            downloader->OnEngineReady();
            ScriptedConnection::At(ScriptedConnection::Count() - 1).RefuseConnect();
        }
        ASSERT_EQ(downloader->LaunchAttempts(), 5);
        ScriptedConnection& lasting = Connect();
        g_now += c.lasted;
        lasting.PeerClose();
        ASSERT_TRUE(downloader);
        EXPECT_EQ(downloader->LaunchAttempts(), c.givenUpAtSixth ? 6 : 1);
        downloader->OnEngineReady();
        ScriptedConnection::At(ScriptedConnection::Count() - 1).RefuseConnect();
        EXPECT_EQ(downloader == nullptr, c.givenUpAtSixth);
    }
}

TEST_F(EngineDownloaderTest, HeldJobsGiveAnEngineThatNeverBecomesReadyThirtySeconds)
{
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    downloader->Tick();
    g_now += 29;
    downloader->Tick();
    ASSERT_TRUE(downloader);
    g_now += 1;
    downloader->Tick();
    EXPECT_FALSE(downloader);
    EXPECT_EQ(manager.calls, (std::vector<std::string>{"unavailable"}));
    EXPECT_NE(ReadLog().find("[MeshpullLib] CEngineDownloader Engine Not Ready (30 s): jobs move to the plain path\r\n"),
              std::string::npos);
}

TEST_F(EngineDownloaderTest, AReadyEngineWhoseConnectionCannotBeSetUpIsGivenUpAfterTheBound)
{
    // The runtime's own context, without a socket manager: it cannot open.
    ScriptedConnection::Uninstall();
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    downloader->OnEngineReady();
    EXPECT_FALSE(downloader->Connected());
    downloader->Tick();
    g_now += 30;
    downloader->Tick();
    EXPECT_FALSE(downloader);
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] CEngineDownloader Connect Failed (connection set-up)\r\n"), std::string::npos);
    EXPECT_NE(log.find("[MeshpullLib] CEngineDownloader Engine Not Ready (30 s)"), std::string::npos);
    ScriptedConnection::Install();
}

TEST_F(EngineDownloaderTest, AReadyOrConnectedEngineStopsTheWaitingBound)
{
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    downloader->Tick();
    g_now += 20;
    ScriptedConnection& connection = Connect();
    Accept(connection, job, 1);
    for (int i = 0; i < 40; ++i) {
        g_now += 1;
        // A working engine reports its job every second.
        vqLOCALPROGRESS record{};
        record.jobNumber = job->Number();
        record.taskNumber = 1;
        Answer(connection, kLocalJobProgress, nwCDNLocalCodec::EncodeProgress(record));
        downloader->Tick();
        ASSERT_TRUE(downloader);
    }
    // A new launcher (after a close) must become ready within its own bound.
    connection.PeerClose();
    downloader->Tick();
    g_now += 29;
    downloader->Tick();
    ASSERT_TRUE(downloader);
    g_now += 1;
    downloader->Tick();
    EXPECT_FALSE(downloader);
}

TEST_F(EngineDownloaderTest, LauncherEventsReachTheManager)
{
    struct Case {
        const char* what;
        std::vector<std::string> calls;
        bool alive;
    } cases[] = {
        {"begin", {"update begin http://u/x 7"}, true},
        {"progress", {"update progress http://u/x 9"}, true},
        {"failed", {"update failed", "unavailable"}, false},
        {"path 1", {"path failed 1", "unavailable"}, false},
        {"path 2", {"path failed 2"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        manager.calls.clear();
        downloader =
            std::make_unique<TestableEngineDownloader>(&manager, lock.As<cpCMutex>(), &Clock, &NoLauncher, &PortOwner);
        const std::string what = c.what;
        if (what == "begin") downloader->OnUpdateBegin("http://u/x", 7, 0);
        if (what == "progress") downloader->OnUpdateProgress("http://u/x", 9, 0);
        if (what == "failed") downloader->OnEngineFailed();
        if (what == "path 1") downloader->OnPathFailed(1);
        if (what == "path 2") downloader->OnPathFailed(2);
        EXPECT_EQ(manager.calls, c.calls);
        EXPECT_EQ(downloader != nullptr, c.alive);
    }
}

TEST_F(EngineDownloaderTest, OfflineAnnouncesItToEveryHeldJobAndHoldsNewOnes)
{
    ScriptedConnection& connection = Connect();
    CJob* first = NewJob();
    CJob* second = NewJob();
    ASSERT_EQ(downloader->StartJob(first), DL_OK);
    ASSERT_EQ(downloader->StartJob(second), DL_OK);
    g_online = false;
    downloader->Tick();
    downloader->Tick();
    EXPECT_EQ(Notices(first), (std::vector<int>{DL_NOTICE_NETWORK_LOST}));
    EXPECT_EQ(Notices(second), (std::vector<int>{DL_NOTICE_NETWORK_LOST}));
    g_online = true;
    downloader->Tick();
    EXPECT_EQ(Notices(first), (std::vector<int>{DL_NOTICE_NETWORK_RESTORED}));
    EXPECT_TRUE(Notices(second).empty());
    // The launcher's offline while a job starts: it waits for the next connection.
    downloader->OnOffline();
    CJob* third = NewJob();
    connection.wire.clear();
    ASSERT_EQ(downloader->StartJob(third), DL_OK); // starting clears the network-down state
    EXPECT_FALSE(connection.wire.empty());
}

TEST_F(EngineDownloaderTest, AFileTheEnginesFieldsCannotHoldMovesTheJobToThePlainPath)
{
    struct Case {
        const char* what;
        std::string url;
        std::string folder;
        std::string name;
    } cases[] = {
        {"folder", "http://files.test/a", folder + std::string(300, 'd'), "a"},
        {"name", "http://files.test/a", folder, std::string(260, 'n')},
        {"URL", "http://files.test/" + std::string(65536, 'u'), folder, "a"},
    };
    ScriptedConnection& connection = Connect();
    int handle = 0x300;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CEventTarget target;
        ++handle;
        jobs.push_back(std::make_unique<CJob>(handle, handle, "", "", target));
        CJob* job = jobs.back().get();
        ASSERT_EQ(job->AddFile("http://files.test/fits", folder.c_str(), "fits", 1, 1, 0), DL_OK);
        ASSERT_EQ(job->AddFile(c.url.c_str(), c.folder.c_str(), c.name.c_str(), 1, 1, 0), DL_OK);
        connection.wire.clear();
        ASSERT_EQ(downloader->StartJob(job), DL_OK);
        EXPECT_FALSE(downloader->Holds(job, false));
        EXPECT_EQ(manager.calls.back(), "fallback " + std::to_string(handle));
        EXPECT_EQ(downloader->RequestCount(), 0u);
        EXPECT_TRUE(connection.wire.empty());
    }
}

TEST_F(EngineDownloaderTest, AJobOfMoreFilesThanTheEngineTakesMovesToThePlainPath)
{
    ScriptedConnection& connection = Connect();
    CEventTarget target;
    jobs.push_back(std::make_unique<CJob>(0x400, 0x400, "", "", target));
    CJob* job = jobs.back().get();
    for (int i = 0; i <= kLocalMaxJobFiles; ++i) {
        const std::string name = "f" + std::to_string(i);
        ASSERT_EQ(job->AddFile(("http://files.test/" + name).c_str(), folder.c_str(), name.c_str(), 1, 1, 0), DL_OK);
    }
    connection.wire.clear();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    EXPECT_FALSE(downloader->Holds(job, false));
    EXPECT_EQ(manager.calls.back(), "fallback " + std::to_string(0x400));
    EXPECT_TRUE(connection.wire.empty());
    EXPECT_NE(ReadLog().find("[MeshpullLib] CEngineDownloader Job Does Not Fit The Engine (16385 files): plain path"),
              std::string::npos);
}

TEST_F(EngineDownloaderTest, NothingGoesToAListenerOfAnotherUserAndItsPortGivesTheEnginePathUpAtOnce)
{
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    downloader->SetServiceId("the-service");
    g_portOwner = static_cast<long>(geteuid()) + 1;
    downloader->OnEngineReady();
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    ScriptedConnection& connection = ScriptedConnection::At(0);
    connection.PeerAccept();
    EXPECT_TRUE(connection.wire.empty());
    EXPECT_TRUE(connection.closed);
    EXPECT_EQ(downloader, nullptr);
    EXPECT_EQ(manager.calls, (std::vector<std::string>{"update succeeded", "unavailable"}));
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] CEngineDownloader Engine Port 40123 Held By Another User (uid " +
                       std::to_string(g_portOwner) + "): jobs move to the plain path\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(Count(log, "localClosed()"), 0u);
}

TEST_F(EngineDownloaderTest, AListenerThatCannotBeLookedUpIsAnotherCloseAndGetsNothing)
{
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    g_portOwner = -1;
    downloader->OnEngineReady();
    ScriptedConnection& connection = ScriptedConnection::At(0);
    connection.PeerAccept();
    EXPECT_TRUE(connection.wire.empty());
    EXPECT_TRUE(connection.closed);
    ASSERT_NE(downloader, nullptr);
    EXPECT_EQ(downloader->LaunchAttempts(), 2);
    EXPECT_TRUE(downloader->Holds(job, false));
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] CEngineDownloader Engine Port 40123 Holder Unknown: connection closed\r\n"),
              std::string::npos);
    EXPECT_EQ(Count(log, "[MeshpullLib] localClosed()\r\n"), 1u);
}

TEST_F(EngineDownloaderTest, APeerThatSpeaksNoEngineProtocolGivesTheEnginePathUpAtOnce)
{
    ScriptedConnection& connection = Connect();
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    connection.Answer("HTTP/1.1 400 Bad Request\r\nServer: nginx\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(downloader, nullptr);
    EXPECT_EQ(manager.calls.back(), "unavailable");
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] CEngineDownloader Engine Port 40123 Speaks No Engine Protocol: jobs move to "
                       "the plain path\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(Count(log, "localClosed()"), 0u);
}

TEST_F(EngineDownloaderTest, AFileTheEngineCallsDoneMustBeOnDiskWithTheJobsSize)
{
    struct Case {
        const char* what;
        std::function<std::string(CJob*)> prepare; // answers the path the engine reports
        bool reported;
    };
    const Case cases[] = {
        {"on disk with its size", [&](CJob* job) { PutOnDisk(job); return job->Files()[0]->LocalPath(); }, true},
        {"nothing on disk", [&](CJob* job) { return job->Files()[0]->LocalPath(); }, false},
        {"a shorter file",
         [&](CJob* job) {
             PutOnDisk(job);
             std::filesystem::resize_file(job->Files()[0]->LocalPath(), 99);
             return job->Files()[0]->LocalPath();
         },
         false},
        {"a folder in its place",
         [&](CJob* job) {
             std::filesystem::create_directories(job->Files()[0]->LocalPath());
             return job->Files()[0]->LocalPath();
         },
         false},
        {"a path that is no file of the job",
         [&](CJob* job) {
             PutOnDisk(job);
             std::ofstream(folder + "elsewhere") << std::string(100, 'x');
             return folder + "elsewhere";
         },
         false},
    };
    ScriptedConnection& connection = Connect();
    int task = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(folder);
        g_events.clear();
        CJob* job = NewJob();
        const std::string path = c.prepare(job);
        ASSERT_EQ(downloader->StartJob(job), DL_OK);
        Accept(connection, job, ++task);
        connection.wire.clear();
        vqLOCALFILEDONE done{job->Number(), task, {}, {}, "src"};
        strcpy(done.localPath, path.c_str());
        Answer(connection, kLocalFileDone, nwCDNLocalCodec::EncodeFileDone(done));
        const int h = job->Handle();
        if (c.reported) {
            EXPECT_EQ(g_events.back(), std::make_pair(static_cast<int>(DL_EVENT_FILE_DONE), h));
            EXPECT_TRUE(downloader->Holds(job, false));
            continue;
        }
        EXPECT_EQ(std::count(g_events.begin(), g_events.end(), std::make_pair(static_cast<int>(DL_EVENT_FILE_DONE), h)),
                  0);
        EXPECT_EQ(Notices(job), (std::vector<int>{DL_NOTICE_ENGINE_GAVE_UP}));
        EXPECT_FALSE(downloader->Holds(job, false));
        EXPECT_EQ(manager.calls.back(), "fallback " + std::to_string(h));
        EXPECT_EQ(Codes(Frames(connection.wire)), (std::vector<uint16_t>{kLocalStopJob}));
        EXPECT_NE(ReadLog().find("[MeshpullLib] CEngineDownloader File Done Not On Disk (" + path + "): plain path\r\n"),
                  std::string::npos);
    }
}

TEST_F(EngineDownloaderTest, AJobFinishedWithoutItsFilesOnDiskMovesToThePlainPath)
{
    ScriptedConnection& connection = Connect();
    std::filesystem::remove_all(folder);
    CJob* job = NewJob(2);
    PutOnDisk(job);
    std::filesystem::remove(job->Files()[1]->LocalPath());
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    Accept(connection, job, 6);
    connection.wire.clear();
    Answer(connection, kLocalJobFinished, nwCDNLocalCodec::EncodeJobFinished({job->Number(), 6, 0, 2, 0}));
    EXPECT_NE(job->State(), JobState::Completed);
    EXPECT_EQ(Notices(job), (std::vector<int>{DL_NOTICE_ENGINE_GAVE_UP}));
    EXPECT_EQ(manager.calls.back(), "fallback " + std::to_string(job->Handle()));
    EXPECT_EQ(Codes(Frames(connection.wire)), (std::vector<uint16_t>{kLocalStopJob}));
    EXPECT_NE(ReadLog().find("[MeshpullLib] CEngineDownloader Job Finished Without Its Files (" +
                             job->Files()[1]->LocalPath() + "): plain path\r\n"),
              std::string::npos);
}

TEST_F(EngineDownloaderTest, AnEngineSilentWhileItHoldsAJobIsAskedForItsStatusThenGivenUpAfterFifteenSeconds)
{
    EXPECT_EQ(CEngineDownloader::SilenceSeconds(), 15);
    ScriptedConnection& connection = Connect();
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    connection.wire.clear();
    for (int second = 1; second < 15; ++second) {
        SCOPED_TRACE(second);
        ++g_now;
        downloader->Tick();
        ASSERT_NE(downloader, nullptr);
        // Asked once, after a third of the bound.
        EXPECT_EQ(Codes(Frames(connection.wire)),
                  second < 5 ? std::vector<uint16_t>{} : std::vector<uint16_t>{kLocalStatus});
    }
    ++g_now;
    downloader->Tick();
    EXPECT_EQ(downloader, nullptr);
    EXPECT_EQ(manager.calls.back(), "unavailable");
    EXPECT_NE(ReadLog().find("[MeshpullLib] CEngineDownloader Engine Silent (15 s): jobs move to the plain path\r\n"),
              std::string::npos);
}

TEST_F(EngineDownloaderTest, AnEngineThatAnswersItsStatusOrReportsIsNotSilentAndItsAnswerIsNoEvent)
{
    ScriptedConnection& connection = Connect();
    CJob* job = NewJob();
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    Accept(connection, job, 2);
    for (int second = 1; second <= 60; ++second) {
        ++g_now;
        downloader->Tick();
        ASSERT_NE(downloader, nullptr) << second;
        const std::vector<Frame> frames = Frames(connection.wire);
        connection.wire.clear();
        if (!frames.empty() && frames.back().code == kLocalStatus) Answer(connection, kLocalStatus, nwCDNLocalCodec::EncodeStatus(1));
    }
    EXPECT_EQ(manager.calls, (std::vector<std::string>{"update succeeded"}));
}

TEST_F(EngineDownloaderTest, TheSilenceBoundCanBeShortenedForTestsOnly)
{
    const struct {
        const char* value;
        int64_t seconds;
    } cases[] = {{"2", 2}, {"1", 1}, {"15", 15}, {"0", 15}, {"16", 15}, {"2x", 15}, {"", 15}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        setenv("ZDR_ENGINE_SILENCE_SECONDS", c.value, 1);
        EXPECT_EQ(CEngineDownloader::SilenceSeconds(), c.seconds);
    }
    unsetenv("ZDR_ENGINE_SILENCE_SECONDS");
}
