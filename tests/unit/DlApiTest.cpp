#include "FakeJobDownloader.h"
#include "netlib/core/cpCAutoLock.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/CVyx.h"
#include "platform/MessageLoop.h"
#include "engine/ActivityLog.h"
#include "service/DlApi.h"
#include "service/DlTesting.h"
#include "service/DownloaderFactory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

FakeJobDownloader* g_plain = nullptr;

std::unique_ptr<CJobDownloader> MakeFakePlain(IJobDownloadEventListener* manager, cpCMutex*)
{
    auto downloader = std::make_unique<FakeJobDownloader>(manager);
    g_plain = downloader.get();
    return downloader;
}

struct EventLog {
    std::mutex mutex;
    std::vector<std::pair<int, int>> posted;
    std::vector<std::pair<int, int>> called;
    std::vector<const void*> userData;
};

void Deliver(void* owner, const MSG& msg)
{
    auto* log = static_cast<EventLog*>(owner);
    std::lock_guard<std::mutex> guard(log->mutex);
    if (msg.message == WM_DL_EVENT) log->posted.emplace_back(static_cast<int>(msg.wParam), static_cast<int>(msg.lParam));
}

void Callback(int code, int param, const void* userData)
{
    auto* log = static_cast<EventLog*>(const_cast<void*>(userData));
    std::lock_guard<std::mutex> guard(log->mutex);
    log->called.emplace_back(code, param);
    log->userData.push_back(userData);
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

std::string TestFolder(const char* name)
{
    return std::string(getenv("HOME")) + "/" + name;
}

class DlApiTest : public testing::Test {
protected:
    void SetUp() override
    {
        // No engine path: these tests drive the plain downloader's seat.
        SetDownloaderMakersForTesting(&MakeNoDownloader, &MakeFakePlain);
        window = CreateForeignWindow(&Deliver, &events);
        ASSERT_EQ(DlInitialize(window, &Callback, &events), DL_OK);
    }
    void TearDown() override
    {
        DlFinalize();
        DestroyMessageWindow(window);
        SetDownloaderMakersForTesting(nullptr, nullptr);
        g_plain = nullptr;
    }
    int NewJobWithFile(const char* name = "a.bin")
    {
        int job = 0;
        EXPECT_EQ(DlCreateJob(&job, "zdr", "svc"), DL_OK);
        EXPECT_EQ(DlAddJobFile(job, "http://h/x/a.bin", TestFolder("dl").c_str(), name, 10, 0, 1), DL_OK);
        return job;
    }

    EventLog events;
    HWND window = nullptr;
};

} // namespace

TEST(DlApiNotRunning, EveryFunctionAnswers517)
{
    auto checkAll = [] {
        int job = 0;
        long long value = 0;
        int size = 0;
        DlNotice notice{};
        DlFileDone done{};
        DlProgress progress{};
        DlSizeInfo sizeInfo{};
        DlJobResult result{};
        DlDataBuffer buffer{};
        const std::vector<std::pair<const char*, std::function<int()>>> calls = {
            {"DlFetchData", [] { return DlFetchData("http://h/list.txt"); }},
            {"DlGetFetchedSize", [&] { return DlGetFetchedSize(&value); }},
            {"DlGetFetchedData", [&] { return DlGetFetchedData(&buffer); }},
            {"DlAddSizeCheckUrl", [] { return DlAddSizeCheckUrl("http://h/a"); }},
            {"DlStartSizeCheck", [] { return DlStartSizeCheck(); }},
            {"DlGetSizeCheckTotal", [&] { return DlGetSizeCheckTotal(&value); }},
            {"DlSetServiceId", [] { return DlSetServiceId("id"); }},
            {"DlCreateJob", [&] { return DlCreateJob(&job, "t", "s"); }},
            {"DlSetJobEngineFlag", [] { return DlSetJobEngineFlag(0x100); }},
            {"DlAddJobFile", [] { return DlAddJobFile(0x100, "http://h/a", "/tmp/", "a", 5, 0, 1); }},
            {"DlStartJob", [] { return DlStartJob(0x100, 1); }},
            {"DlStopJob", [] { return DlStopJob(0x100, 0); }},
            {"DlRemoveJob", [] { return DlRemoveJob(0x100); }},
            {"DlAnswerResume", [] { return DlAnswerResume(0x100, 1, 1); }},
            {"DlGetJobRemaining", [&] { return DlGetJobRemaining(0x100, &value); }},
            {"DlGetJobNoticeSize", [&] { return DlGetJobNoticeSize(0x100, &size); }},
            {"DlPopJobNotice", [&] { return DlPopJobNotice(0x100, &notice); }},
            {"DlPopJobFileDone", [&] { return DlPopJobFileDone(0x100, &done); }},
            {"DlGetJobProgress", [&] { return DlGetJobProgress(0x100, &progress); }},
            {"DlGetJobSizeInfo", [&] { return DlGetJobSizeInfo(0x100, &sizeInfo); }},
            {"DlGetJobResult", [&] { return DlGetJobResult(0x100, &result); }},
        };
        for (const auto& [name, call] : calls) EXPECT_EQ(call(), DL_ERR_GENERAL) << name;
        EXPECT_EQ(job, 0);
        EXPECT_EQ(DlGetUserData(), nullptr);
    };
    checkAll();
    int userData = 0;
    ASSERT_EQ(DlInitialize(nullptr, nullptr, &userData), DL_OK);
    EXPECT_EQ(DlGetUserData(), &userData);
    EXPECT_EQ(DlFinalize(), DL_OK);
    checkAll();
}

TEST(DlApiNotRunning, FinalizeWithoutInitializeLogsBothLines)
{
    LogReset();
    EXPECT_EQ(DlFinalize(), DL_OK);
    const std::string log = ReadLog();
    const size_t begin = log.find("] [MeshpullLib] Finalize Begin\r\n");
    const size_t end = log.find("] [MeshpullLib] Finalize End\r\n");
    ASSERT_NE(begin, std::string::npos) << log;
    ASSERT_NE(end, std::string::npos) << log;
    EXPECT_LT(begin, end);
    EXPECT_EQ(log.find("Destroy JobManager"), std::string::npos);
}

TEST(DlApiNotRunning, SizeIsValidatedBeforeAnythingElse)
{
    struct Case {
        unsigned int low;
        int high;
        int expected;
    } cases[] = {
        {0xFFFFFFFFu, -1, DL_ERR_GENERAL}, // -1: unknown size, accepted (then: no service)
        {0, 0, DL_ERR_SIZE},
        {0xFFFFFFFEu, -1, DL_ERR_SIZE}, // -2
        {5, -1, DL_ERR_SIZE},
        {0, -2, DL_ERR_SIZE},
        {1, 0, DL_ERR_GENERAL},
        {0, 1, DL_ERR_GENERAL}, // 4 GiB
    };
    for (const auto& c : cases)
        EXPECT_EQ(DlAddJobFile(0x100, "http://h/a", "/tmp/", "a", c.low, c.high, 1), c.expected) << c.low << "/" << c.high;
}

TEST_F(DlApiTest, SecondInitializeAnswers518AndChangesNothing)
{
    int other = 0;
    EXPECT_EQ(DlInitialize(nullptr, nullptr, &other), DL_ERR_RUNNING);
    EXPECT_EQ(DlGetUserData(), &events);
    int job = 0;
    EXPECT_EQ(DlCreateJob(&job, nullptr, nullptr), DL_OK);
}

TEST_F(DlApiTest, AddJobFileSizesOnARunningService)
{
    int job = 0;
    ASSERT_EQ(DlCreateJob(&job, nullptr, nullptr), DL_OK);
    const std::string folder = TestFolder("sizes");
    EXPECT_EQ(DlAddJobFile(job, "http://h/1", folder.c_str(), nullptr, 0xFFFFFFFFu, -1, 1), DL_OK);
    EXPECT_EQ(DlAddJobFile(job, "http://h/2", folder.c_str(), nullptr, 0, 0, 1), DL_ERR_SIZE);
    EXPECT_EQ(DlAddJobFile(job, "http://h/3", folder.c_str(), nullptr, 0xFFFFFFFEu, -1, 1), DL_ERR_SIZE);
    EXPECT_EQ(DlAddJobFile(job, "http://h/4", folder.c_str(), nullptr, 5, -1, 1), DL_ERR_SIZE);
    EXPECT_EQ(DlAddJobFile(job, "http://h/5", folder.c_str(), nullptr, 0, 1, 1), DL_OK);
}

TEST_F(DlApiTest, AddJobFileCreatesEveryMissingFolder)
{
    int job = 0;
    ASSERT_EQ(DlCreateJob(&job, nullptr, nullptr), DL_OK);
    const std::string folder = TestFolder("deep/er/games");
    EXPECT_EQ(DlAddJobFile(job, "http://h/a.bin", folder.c_str(), nullptr, 1, 0, 1), DL_OK);
    EXPECT_TRUE(std::filesystem::is_directory(folder)); // the last component too
    EXPECT_EQ(DlAddJobFile(job, "", folder.c_str(), nullptr, 1, 0, 1), DL_ERR_URL);
    EXPECT_EQ(DlAddJobFile(job, nullptr, folder.c_str(), nullptr, 1, 0, 1), DL_ERR_URL);
    EXPECT_EQ(DlAddJobFile(0x7FFFFFF, "http://h/b", folder.c_str(), nullptr, 1, 0, 1), DL_ERR_GENERAL);
}

TEST_F(DlApiTest, UnreachableFolderAnswers514AndRaises528)
{
    const std::string blocker = TestFolder("plain-file");
    std::ofstream(blocker) << "x";
    int job = 0;
    ASSERT_EQ(DlCreateJob(&job, nullptr, nullptr), DL_OK);
    EXPECT_EQ(DlAddJobFile(job, "http://h/a", (blocker + "/sub").c_str(), nullptr, 1, 0, 1), DL_ERR_FOLDER);
    EXPECT_EQ(DlAddJobFile(job, "http://h/a", "", nullptr, 1, 0, 1), DL_ERR_FOLDER);
    std::lock_guard<std::mutex> guard(events.mutex);
    ASSERT_EQ(events.called.size(), 2u);
    EXPECT_EQ(events.called[0].first, DL_EVENT_DOWNLOAD_PATH_FAILED);
    EXPECT_NE(events.called[0].second, 0); // opaque, non-zero
    ASSERT_EQ(events.posted.size(), 2u);
    EXPECT_EQ(events.posted[0], events.called[0]);
    EXPECT_NE(ReadLog().find("[MeshpullLib] download path access failed\r\n"), std::string::npos);
}

TEST_F(DlApiTest, CreateJobRefusesAnExistingHandle)
{
    int first = 0;
    ASSERT_EQ(DlCreateJob(&first, "abcdef", nullptr), DL_OK);
    EXPECT_NE(first, 0);
    int again = first;
    EXPECT_EQ(DlCreateJob(&again, nullptr, nullptr), DL_ERR_GENERAL);
    EXPECT_EQ(again, first);
    int stale = 0x7FFFFFF;
    EXPECT_EQ(DlCreateJob(&stale, nullptr, nullptr), DL_OK); // an unknown handle is simply replaced
    EXPECT_NE(stale, first);
    EXPECT_EQ(DlSetJobEngineFlag(first), DL_OK);
    EXPECT_EQ(DlSetJobEngineFlag(0x7FFFFFF), DL_ERR_GENERAL);
}

TEST_F(DlApiTest, JobLifecycleWithoutAStart)
{
    int empty = 0;
    ASSERT_EQ(DlCreateJob(&empty, nullptr, nullptr), DL_OK);
    EXPECT_EQ(DlStartJob(empty, 1), DL_ERR_GENERAL); // no files
    int job = NewJobWithFile();
    EXPECT_EQ(DlStopJob(job), DL_ERR_GENERAL); // never started: nobody holds it
    DlNotice notice{DL_NOTICE_DISK_FULL, nullptr};
    EXPECT_EQ(DlPopJobNotice(job, &notice), DL_OK);
    EXPECT_EQ(notice.code, DL_NOTICE_NONE);
    EXPECT_EQ(DlRemoveJob(job), DL_OK);
    EXPECT_EQ(DlRemoveJob(job), DL_ERR_GENERAL);
    DlProgress progress{};
    EXPECT_EQ(DlGetJobProgress(job, &progress), DL_ERR_GENERAL);
}

TEST_F(DlApiTest, StartedJobRaisesItsSizeOnceAndStops)
{
    ASSERT_NE(g_plain, nullptr);
    g_plain->sizeOnBegin = 1234;
    int job = NewJobWithFile();
    EXPECT_EQ(DlStartJob(job, 0), DL_OK);
    EXPECT_EQ(DlStartJob(job, 0), DL_ERR_ALREADY_RUNNING);
    DlSizeInfo info{};
    EXPECT_EQ(DlGetJobSizeInfo(job, &info), DL_OK);
    EXPECT_EQ(info.fileCount, 1);
    EXPECT_EQ(info.totalBytes, 1234);
    DlSizeInfo again{-1, -1};
    EXPECT_EQ(DlGetJobSizeInfo(job, &again), DL_OK);
    EXPECT_EQ(again.fileCount, -1); // nothing pending any more
    {
        std::lock_guard<std::mutex> guard(events.mutex);
        ASSERT_EQ(events.called.size(), 1u);
        EXPECT_EQ(events.called[0], std::make_pair(DL_EVENT_JOB_SIZE, job));
        EXPECT_EQ(events.posted, events.called);
        EXPECT_EQ(events.userData[0], &events);
    }
    EXPECT_EQ(DlAnswerResume(job, 1, 0), DL_OK);
    EXPECT_EQ(g_plain->resumeAnswers, 1);
    EXPECT_EQ(DlStopJob(job, 0), DL_OK);
    EXPECT_EQ(g_plain->ended.size(), 1u);
    EXPECT_EQ(DlStopJob(job), DL_ERR_GENERAL);
    EXPECT_EQ(DlStartJob(job, 1), DL_OK); // a stopped job may start again
    EXPECT_EQ(DlRemoveJob(job), DL_OK);
    EXPECT_EQ(g_plain->HeldCount(), 0u); // removal stopped it
}

TEST_F(DlApiTest, PopJobNoticeWritesNoMoreThanTheSizeQueryAnswered)
{
    int job = NewJobWithFile();
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_EQ(g_plain->begun.size(), 1u);
    int size = -1;
    ASSERT_EQ(DlGetJobNoticeSize(job, &size), DL_OK);
    EXPECT_EQ(size, 0);
    {
        // The service thread queues a notice between the size query and the pop.
        cpCAutoLock guard(DlNetworkLockForTesting());
        g_plain->PutNotice(g_plain->begun[0], DL_NOTICE_DOWNLOAD_FAILED, "http://h/x/a.bin");
    }
    std::vector<char> text(1, 'X');
    DlNotice notice{DL_NOTICE_NONE, text.data()};
    EXPECT_EQ(DlPopJobNotice(job, &notice), DL_ERR_GENERAL);
    EXPECT_EQ(text[0], 'X');
    ASSERT_EQ(DlGetJobNoticeSize(job, &size), DL_OK);
    ASSERT_EQ(size, 17);
    text.assign(static_cast<size_t>(size) + 1, 'X');
    notice.text = text.data();
    EXPECT_EQ(DlPopJobNotice(job, &notice), DL_OK);
    EXPECT_EQ(notice.code, DL_NOTICE_DOWNLOAD_FAILED);
    EXPECT_STREQ(text.data(), "http://h/x/a.bin");
    EXPECT_EQ(text[17], 'X');
    EXPECT_EQ(DlPopJobNotice(job, &notice), DL_OK);
    EXPECT_EQ(notice.code, DL_NOTICE_NONE);
}

TEST_F(DlApiTest, RemainingFallsBackToTheSizeCheckTotal)
{
    int job = NewJobWithFile();
    long long remaining = 0;
    EXPECT_EQ(DlGetJobRemaining(job, &remaining), DL_ERR_GENERAL); // no progress, no size check
    EXPECT_EQ(DlGetJobRemaining(0x7FFFFFF, &remaining), DL_ERR_GENERAL);
}

TEST(DlApiStuckThread, FinalizeDoesNotHangOnAServiceThreadThatWillNotEnd)
{
    LogReset();
    ASSERT_EQ(DlInitialize(nullptr, nullptr, nullptr), DL_OK);
    cpCMutex* lock = DlNetworkLockForTesting();
    ASSERT_NE(lock, nullptr);
    // Holding the network lock keeps the service thread from finishing its
    // shut-down after the quit message.
    lock->Lock();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DlFinalize(), DL_OK);
    const auto waited = std::chrono::steady_clock::now() - start;
    lock->Unlock();
    EXPECT_GE(waited, std::chrono::milliseconds(2900));
    EXPECT_LT(waited, std::chrono::seconds(60));
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] Force TerminateThread\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[MeshpullLib] Finalize End\r\n"), std::string::npos);
    // A new service starts cleanly afterwards.
    ASSERT_EQ(DlInitialize(nullptr, nullptr, nullptr), DL_OK);
    int job = 0;
    EXPECT_EQ(DlCreateJob(&job, nullptr, nullptr), DL_OK);
    EXPECT_EQ(DlFinalize(), DL_OK);
}

TEST(DlApiRuntimeTaken, AServiceWhoseRuntimeCannotStartAnswers517AndTheNextOneWorks)
{
    vqSmartPtr lock;
    ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
    {
        // Another runtime holds the process's socket and timer managers.
        CVyx other(lock.As<cpCMutex>());
        EXPECT_EQ(DlInitialize(nullptr, nullptr, nullptr), DL_ERR_GENERAL);
        int job = 0;
        EXPECT_EQ(DlCreateJob(&job, nullptr, nullptr), DL_ERR_GENERAL);
        EXPECT_EQ(DlFinalize(), DL_OK);
        other.Shutdown();
    }
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(DlInitialize(nullptr, nullptr, nullptr), DL_OK) << round;
        int job = 0;
        EXPECT_EQ(DlCreateJob(&job, nullptr, nullptr), DL_OK);
        EXPECT_EQ(DlFinalize(), DL_OK);
    }
}
