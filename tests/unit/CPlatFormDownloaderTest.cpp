// The plain downloader on scripted servers with an injected clock and
// connectivity: the job's events, its progress record and the network
// notices of the once-a-second tick.

#include "RuntimeTestSupport.h"
#include "ScriptedConnection.h"
#include "platform/CodePage.h"
#include "platform/Connectivity.h"
#include "service/CPlatFormDownloader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

bool g_connected = true;
bool Connectivity()
{
    return g_connected;
}

std::vector<std::pair<int, int>> g_events;
void Record(int code, int param, const void*)
{
    g_events.emplace_back(code, param);
}

class QuietManager : public IJobDownloadEventListener {
public:
    void OnEngineUpdateBegin(const char*, unsigned int, int) override {}
    void OnEngineUpdateProgress(const char*, unsigned int, int) override {}
    void OnEngineUpdateSucceeded() override {}
    void OnEngineUpdateFailed() override {}
    void OnEngineUnavailable() override {}
    void OnJobFallback(int) override {}
    void OnPathAccessFailed(int) override {}
    void OnEngineStatus(int) override {}
};

class PlatFormDownloader : public testing::Test {
protected:
    void SetUp() override
    {
        SetSystemCodeSetForTesting("UTF-8");
        ScriptedConnection::Install();
        SetConnectivityCheckForTesting(&Connectivity);
        testrt::g_nowMs = testrt::At(1700000000);
        cpSetClockForTesting(&testrt::TestClock);
        g_connected = true;
        g_events.clear();
        folder = std::string(getenv("HOME")) + "/dl/" + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        downloader = std::make_unique<CPlatFormDownloader>(&manager);
    }
    void TearDown() override
    {
        downloader.reset();
        jobs.clear();
        CPlatformFileSizeCheckSession::SetFreeSpaceSourceForTesting(nullptr);
        cpSetClockForTesting(nullptr);
        SetConnectivityCheckForTesting(nullptr);
        ScriptedConnection::Uninstall();
        SetSystemCodeSetForTesting(nullptr);
    }
    CJob* NewJob(long long size)
    {
        CEventTarget target;
        target.callback = &Record;
        const int handle = static_cast<int>(jobs.size()) + 1;
        jobs.push_back(std::make_unique<CJob>(handle, handle - 1, "zdr", "svc", target));
        CJob* job = jobs.back().get();
        EXPECT_EQ(job->AddFile(("http://files.test/" + std::to_string(handle) + ".bin").c_str(), folder.c_str(), nullptr,
                               size, 1, 0),
                  DL_OK);
        return job;
    }
    int Count(int code, int job)
    {
        return static_cast<int>(std::count(g_events.begin(), g_events.end(), std::make_pair(code, job)));
    }
    std::vector<int> NoticeCodes(CJob* job)
    {
        std::vector<int> codes;
        for (;;) {
            DlNotice notice{0, nullptr};
            job->PopNotice(&notice);
            if (notice.code == DL_NOTICE_NONE) return codes;
            codes.push_back(notice.code);
        }
    }

    QuietManager manager;
    std::string folder;
    std::vector<std::unique_ptr<CJob>> jobs;
    std::unique_ptr<CPlatFormDownloader> downloader;
};

} // namespace

TEST_F(PlatFormDownloader, ALostConnectionIsAnnouncedToEveryJobOnceAndItsReturnToTheTickedJob)
{
    CJob* first = NewJob(10);
    CJob* second = NewJob(10);
    ASSERT_EQ(downloader->StartJob(first), DL_OK);
    ASSERT_EQ(downloader->StartJob(second), DL_OK);
    g_connected = false;
    downloader->Tick();
    downloader->Tick();
    EXPECT_TRUE(downloader->NetworkDown());
    EXPECT_EQ(NoticeCodes(first), (std::vector<int>{DL_NOTICE_NETWORK_LOST}));
    EXPECT_EQ(NoticeCodes(second), (std::vector<int>{DL_NOTICE_NETWORK_LOST}));
    g_connected = true;
    downloader->Tick();
    downloader->Tick();
    EXPECT_FALSE(downloader->NetworkDown());
    EXPECT_EQ(NoticeCodes(first), (std::vector<int>{DL_NOTICE_NETWORK_RESTORED}));
    EXPECT_TRUE(NoticeCodes(second).empty());
}

TEST_F(PlatFormDownloader, ProgressCountsFromTheEndOfTheSizeCheck)
{
    CJob* job = NewJob(10);
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    EXPECT_EQ(downloader->StartJob(job), DL_ERR_ALREADY_RUNNING);
    EXPECT_EQ(Count(DL_EVENT_JOB_SIZE, job->Handle()), 1);
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    ScriptedConnection::At(0).Answer(HttpAnswer("200 OK", {"Content-Length: 10"}, "0123"));
    // Within the first second the speed is 0 and the remaining time is what is left.
    DlProgress progress = job->Progress();
    EXPECT_EQ(progress.totalBytes, 10);
    EXPECT_EQ(progress.bytesPresent, 4);
    EXPECT_EQ(progress.fileCount, 1);
    EXPECT_EQ(progress.elapsedSeconds, 0);
    EXPECT_EQ(progress.speed, 0);
    EXPECT_EQ(progress.remainingSeconds, 6);
    EXPECT_EQ(progress.percent, 40);
    EXPECT_EQ(progress.fileSize, 10);
    EXPECT_EQ(progress.fileBytesPresent, 4);
    EXPECT_EQ(progress.filePercent, 40);
    EXPECT_STREQ(progress.fileName, "1.bin");
    testrt::g_nowMs += 2000;
    ScriptedConnection::At(0).Answer("45");
    progress = job->Progress();
    EXPECT_EQ(progress.elapsedSeconds, 2);
    EXPECT_EQ(progress.speed, 3);
    EXPECT_EQ(progress.speed64, 3);
    EXPECT_EQ(progress.remainingSeconds, 1);
    downloader->Tick();
    EXPECT_EQ(Count(DL_EVENT_JOB_PROGRESS, job->Handle()), 1);
    ScriptedConnection::At(0).Answer("6789");
    EXPECT_EQ(Count(DL_EVENT_FILE_DONE, job->Handle()), 1);
    EXPECT_EQ(Count(DL_EVENT_JOB_COMPLETE, job->Handle()), 1);
    EXPECT_EQ(downloader->HeldCount(), 0u);
    DlJobResult result{};
    job->TakeResult(&result);
    EXPECT_EQ(result.valueA, 1);
    EXPECT_EQ(job->Progress().percent, 100);
}

TEST_F(PlatFormDownloader, StoppingAJobEndsItsTransfer)
{
    CJob* job = NewJob(10);
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    ScriptedConnection::At(0).Answer(HttpAnswer("200 OK", {"Content-Length: 10", "ETag: \"e1\""}, "0123"));
    EXPECT_EQ(downloader->StopJob(job), DL_OK);
    EXPECT_TRUE(ScriptedConnection::At(0).closed);
    EXPECT_EQ(downloader->HeldCount(), 0u);
    EXPECT_EQ(downloader->StopJob(job), DL_ERR_NOT_HELD);
    // Started again, it resumes from what is on disk, if the server's file
    // is still the one it came from.
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    ASSERT_EQ(ScriptedConnection::Count(), 2u);
    EXPECT_EQ(ScriptedConnection::At(1).RequestHeader("Range"), "bytes=4-");
    EXPECT_EQ(ScriptedConnection::At(1).RequestHeader("If-Range"), "\"e1\"");
}

TEST_F(PlatFormDownloader, AFileThatCannotBeSizedDropsTheJobWithItsEntry)
{
    CJob* job = NewJob(-1);
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    ScriptedConnection::At(0).Answer(HttpAnswer("404 Not Found", {"Content-Length: 0"}));
    EXPECT_EQ(downloader->HeldCount(), 0u);
    DlNotice notice{0, nullptr};
    std::vector<char> text(static_cast<size_t>(job->NoticeSize()));
    notice.text = text.data();
    job->PopNotice(&notice);
    EXPECT_EQ(notice.code, DL_NOTICE_DOWNLOAD_FAILED);
    EXPECT_STREQ(text.data(), "http://files.test/1.bin: HTTP 404 Not Found");
    EXPECT_EQ(Count(DL_EVENT_JOB_SIZE, job->Handle()), 0);
}

namespace {

int64_t PlentyOfRoom(const std::string&)
{
    return int64_t(1) << 40;
}

} // namespace

// A job added without sizes has them found by its size check; the transfer
// is held to them, so an empty answer for a file of 10 bytes is no file.
TEST_F(PlatFormDownloader, TheTransferIsHeldToTheSizeTheCheckFound)
{
    CPlatformFileSizeCheckSession::SetFreeSpaceSourceForTesting(&PlentyOfRoom);
    CJob* job = NewJob(-1);
    ASSERT_EQ(downloader->StartJob(job), DL_OK);
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    ScriptedConnection::At(0).Answer(HttpAnswer("200 OK", {"Content-Length: 10"}));
    ASSERT_EQ(ScriptedConnection::Count(), 2u);
    ScriptedConnection::At(1).Answer(HttpAnswer("200 OK", {"Content-Length: 0"}));
    EXPECT_EQ(Count(DL_EVENT_FILE_DONE, job->Handle()), 0);
    EXPECT_EQ(Count(DL_EVENT_JOB_COMPLETE, job->Handle()), 0);
    EXPECT_FALSE(std::filesystem::exists(folder + "1.bin"));
    EXPECT_EQ(downloader->HeldCount(), 1u);
}
