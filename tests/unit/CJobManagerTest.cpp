#include "FakeJobDownloader.h"
#include "service/CJobManager.h"
#include "service/DownloaderFactory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

FakeJobDownloader* g_engine = nullptr;
FakeJobDownloader* g_plain = nullptr;
int g_engineDestroyed = 0;

struct EngineFake : FakeJobDownloader {
    using FakeJobDownloader::FakeJobDownloader;
    ~EngineFake() override { ++g_engineDestroyed; }
};

std::unique_ptr<CJobDownloader> MakeEngine(IJobDownloadEventListener* manager, cpCMutex*)
{
    auto downloader = std::make_unique<EngineFake>(manager);
    g_engine = downloader.get();
    return downloader;
}

std::unique_ptr<CJobDownloader> MakePlain(IJobDownloadEventListener* manager, cpCMutex*)
{
    auto downloader = std::make_unique<FakeJobDownloader>(manager);
    g_plain = downloader.get();
    return downloader;
}

std::vector<std::pair<int, int>> g_events;
void Record(int code, int param, const void*)
{
    g_events.emplace_back(code, param);
}

class CJobManagerTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_events.clear();
        g_engineDestroyed = 0;
        SetDownloaderMakersForTesting(&MakeEngine, &MakePlain);
        lock.CreateInstance(0x1008);
        manager = std::make_unique<CJobManager>(lock.As<cpCMutex>());
        ASSERT_EQ(manager->Configure(nullptr, &Record, nullptr, 1), 512);
    }
    void TearDown() override
    {
        manager.reset();
        SetDownloaderMakersForTesting(nullptr, nullptr);
    }
    CJob* JobWithFile()
    {
        CJob* job = manager->CreateJob(nullptr, nullptr);
        EXPECT_EQ(job->AddFile("http://h/f", "/tmp/zdr", nullptr, 1, 1, 0), 512);
        return job;
    }

    vqSmartPtr lock;
    std::unique_ptr<CJobManager> manager;
};

} // namespace

TEST_F(CJobManagerTest, JobsAreNumberedInCreationOrder)
{
    CJob* first = manager->CreateJob(nullptr, nullptr);
    CJob* second = manager->CreateJob(nullptr, nullptr);
    EXPECT_EQ(first->Number(), 0);
    EXPECT_EQ(second->Number(), 1);
    EXPECT_NE(first->Handle(), second->Handle());
    EXPECT_EQ(manager->FindJob(second->Handle()), second);
    manager->RemoveJob(first);
    EXPECT_EQ(manager->FindJob(second->Handle()), second);
    EXPECT_EQ(manager->CreateJob(nullptr, nullptr)->Number(), 2);
}

TEST_F(CJobManagerTest, EngineUnavailableRestartsExactlyTheRunningJobsOnThePlainDownloader)
{
    CJob* runningA = JobWithFile();
    CJob* idle = JobWithFile();
    CJob* runningB = JobWithFile();
    ASSERT_EQ(manager->CurrentDownloader(), g_engine);
    ASSERT_EQ(g_engine->StartJob(runningA), 512);
    ASSERT_EQ(g_engine->StartJob(runningB), 512);
    manager->OnEngineUnavailable();
    EXPECT_EQ(g_engineDestroyed, 1);
    EXPECT_EQ(manager->EngineDownloader(), nullptr);
    EXPECT_EQ(g_plain->begun, (std::vector<CJob*>{runningA, runningB}));
    EXPECT_EQ(idle->State(), JobState::Idle);
    // From now on every start goes to the plain downloader.
    EXPECT_EQ(manager->CurrentDownloader(), g_plain);
    EXPECT_EQ(manager->CurrentDownloader()->StartJob(idle), 512);
    EXPECT_EQ(manager->OwningDownloader(idle), g_plain);
}

TEST_F(CJobManagerTest, FallbackMovesOneJobAndIgnoresUnknownHandles)
{
    CJob* job = JobWithFile();
    manager->OnJobFallback(job->Handle());
    manager->OnJobFallback(0x7FFFFFF);
    EXPECT_EQ(g_plain->begun, (std::vector<CJob*>{job}));
    EXPECT_EQ(manager->OwningDownloader(job), g_plain);
}

TEST_F(CJobManagerTest, RemovingAHeldJobStopsItFirst)
{
    CJob* job = JobWithFile();
    ASSERT_EQ(g_engine->StartJob(job), 512);
    manager->RemoveJob(job);
    EXPECT_EQ(g_engine->ended, (std::vector<CJob*>{job}));
    EXPECT_EQ(g_engine->HeldCount(), 0u);
}

TEST_F(CJobManagerTest, ListenerCallsRaiseTheirServiceEvents)
{
    manager->OnEngineUpdateBegin("a.zip", 1, 0);
    manager->OnEngineUpdateProgress("a.zip", 1, 0);
    manager->OnEngineUpdateSucceeded();
    manager->OnEngineUpdateFailed();
    manager->OnEngineStatus(3);
    manager->OnDataReady("x", 1);
    manager->OnDataFailed(4);
    manager->OnDataTick();
    manager->OnSizeCheckDone(5, 0);
    manager->OnSizeCheckFailed("http://h/a");
    manager->OnSizeCheckUnreachable();
    manager->OnPathAccessFailed(IJobDownloadEventListener::kEngineFolder);
    manager->OnPathAccessFailed(3); // unknown kind: nothing
    const int id = manager->Identity();
    EXPECT_EQ(g_events, (std::vector<std::pair<int, int>>{{518, 0}, {519, 0}, {520, 0}, {521, 0}, {530, 0}, {522, 0},
                                                          {523, 0}, {529, 0}, {525, 0}, {526, 0}, {526, 0}, {527, id}}));
}

TEST_F(CJobManagerTest, RoutingIgnoresJobsTheDownloaderDoesNotHold)
{
    CJob* held = JobWithFile();
    CJob* other = JobWithFile();
    ASSERT_EQ(g_engine->StartJob(held), 512);
    g_engine->PutNotice(other, 517, "x");
    g_engine->PutSize(other, 1, 5);
    EXPECT_TRUE(g_events.empty());
    g_engine->PutNoticeAndDrop(held, 518, nullptr);
    EXPECT_EQ(g_events, (std::vector<std::pair<int, int>>{{517, held->Handle()}}));
    EXPECT_EQ(g_engine->HeldCount(), 0u);
    g_engine->Tick();
    EXPECT_TRUE(g_engine->ticked.empty());
}

TEST_F(CJobManagerTest, TickRunsEveryHeldJobThenItsProgressEvent)
{
    CJob* job = JobWithFile();
    ASSERT_EQ(g_plain->StartJob(job), 512);
    DlProgress progress{};
    progress.bytesPresent = 10;
    g_plain->PutProgress(job, progress);
    g_plain->Tick();
    EXPECT_EQ(g_plain->ticked, (std::vector<CJob*>{job}));
    EXPECT_EQ(g_events, (std::vector<std::pair<int, int>>{{514, job->Handle()}}));
    g_plain->PutComplete(job, 1, 0);
    EXPECT_EQ(job->State(), JobState::Completed);
    EXPECT_EQ(g_plain->HeldCount(), 0u);
    EXPECT_EQ(g_plain->StopJob(job), 516);
}

TEST_F(CJobManagerTest, TheTickRunsOnlyWhileAJobIsHeld)
{
    CJob* first = JobWithFile();
    CJob* second = JobWithFile();
    EXPECT_FALSE(g_plain->Ticking());
    ASSERT_EQ(g_plain->StartJob(first), 512);
    ASSERT_EQ(g_plain->StartJob(second), 512);
    EXPECT_TRUE(g_plain->Ticking());
    EXPECT_EQ(g_plain->StopJob(first), 512);
    EXPECT_TRUE(g_plain->Ticking());
    EXPECT_EQ(g_plain->StopJob(second), 512);
    EXPECT_FALSE(g_plain->Ticking()); // no 514 after the last job stopped
    ASSERT_EQ(g_plain->StartJob(first), 512);
    g_plain->PutComplete(first, 1, 0);
    EXPECT_FALSE(g_plain->Ticking());
}

TEST_F(CJobManagerTest, TheEngineUpdateRecordFollowsEachFileByItsUrl)
{
    // Two files side by side, a retry, a long name, then a second run.
    const std::string longName(80, 'n');
    struct Step {
        const char* what;
        std::function<void()> call;
        DlEngineUpdate expected; // fileName compared as text
    };
    auto record = [](int count, int number, long long size, long long bytes, const std::string& name) {
        DlEngineUpdate r{};
        r.fileCount = count;
        r.fileNumber = number;
        r.fileSize = size;
        r.fileBytes = bytes;
        memcpy(r.fileName, name.data(), std::min(name.size(), sizeof r.fileName - 1));
        return r;
    };
    const Step steps[] = {
        {"nothing yet", [] {}, record(0, 0, 0, 0, "")},
        {"a begins (6 GiB)", [&] { manager->OnEngineUpdateBegin("http://u/files/a.zip", 0x80000000u, 1); },
         record(1, 1, 0x180000000LL, 0, "a.zip")},
        {"b begins", [&] { manager->OnEngineUpdateBegin("http://u/files/b.zip", 300, 0); }, record(2, 2, 300, 0, "b.zip")},
        {"a progresses", [&] { manager->OnEngineUpdateProgress("http://u/files/a.zip", 5, 1); },
         record(2, 1, 0x180000000LL, 0x100000005LL, "a.zip")},
        {"an unknown URL changes nothing", [&] { manager->OnEngineUpdateProgress("http://u/files/c.zip", 9, 0); },
         record(2, 1, 0x180000000LL, 0x100000005LL, "a.zip")},
        {"b is tried again and starts over", [&] { manager->OnEngineUpdateBegin("http://u/files/b.zip", 300, 0); },
         record(2, 2, 300, 0, "b.zip")},
        {"a long name is cut to 65", [&] { manager->OnEngineUpdateBegin(("http://u/" + longName).c_str(), 1, 0); },
         record(3, 3, 1, 0, longName.substr(0, 65))},
        {"the run ends: the record stays", [&] { manager->OnEngineUpdateSucceeded(); },
         record(3, 3, 1, 0, longName.substr(0, 65))},
        {"the next run starts afresh", [&] { manager->OnEngineUpdateBegin("http://u/files/a.zip", 10, 0); },
         record(1, 1, 10, 0, "a.zip")},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.call();
        const DlEngineUpdate got = manager->EngineUpdate();
        EXPECT_EQ(got.fileCount, step.expected.fileCount);
        EXPECT_EQ(got.fileNumber, step.expected.fileNumber);
        EXPECT_EQ(got.fileSize, step.expected.fileSize);
        EXPECT_EQ(got.fileBytes, step.expected.fileBytes);
        EXPECT_EQ(std::string(got.fileName, strnlen(got.fileName, sizeof got.fileName)), step.expected.fileName);
        EXPECT_EQ(got.fileName[sizeof got.fileName - 1], '\0');
    }
}

TEST_F(CJobManagerTest, AJobKeepsThePathOfTheDownloaderThatStartedItLast)
{
    CJob* moved = JobWithFile();
    CJob* fallen = JobWithFile();
    CJob* never = JobWithFile();
    EXPECT_EQ(moved->LastPath(), DL_PATH_NONE);
    ASSERT_EQ(manager->StartJobOn(manager->CurrentDownloader(), moved), 512);
    ASSERT_EQ(manager->StartJobOn(manager->CurrentDownloader(), fallen), 512);
    EXPECT_EQ(moved->LastPath(), DL_PATH_ENGINE);
    // Started again where it runs: nothing changes.
    EXPECT_EQ(manager->StartJobOn(manager->CurrentDownloader(), moved), DL_ERR_ALREADY_RUNNING);
    EXPECT_EQ(moved->LastPath(), DL_PATH_ENGINE);
    g_engine->Holds(fallen, true);
    manager->OnJobFallback(fallen->Handle());
    EXPECT_EQ(fallen->LastPath(), DL_PATH_PLAIN);
    EXPECT_EQ(moved->LastPath(), DL_PATH_ENGINE);
    manager->OnEngineUnavailable();
    EXPECT_EQ(moved->LastPath(), DL_PATH_PLAIN);
    EXPECT_EQ(never->LastPath(), DL_PATH_NONE);
}
