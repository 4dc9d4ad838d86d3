// Jobs run end to end on the plain downloader, exactly as a front end drives
// them through the service interface, against a real nginx and our agent
// server.

#include "AgentServerProcess.h"
#include "JobNotices.h"
#include "NginxProcess.h"
#include "platform/COutputFile.h"
#include "platform/Connectivity.h"
#include "engine/ActivityLog.h"
#include "service/CPartFileRecord.h"
#include "service/DlApi.h"
#include "ServiceEvents.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool Connected()
{
    return true;
}

using Events = ServiceEvents;

using Notice = JobNotice;

class PlainDownload : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("ZDR_NO_ENGINE", "1", 1); // these tests are about the plain path: no engine downloader
        base = std::string(getenv("HOME")) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(nginx.Start(base + "/nginx"));
        ASSERT_TRUE(agent.Start(base + "/reports.jsonl"));
        setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(agent.Port())).c_str(), 1);
        SetConnectivityCheckForTesting(&Connected);
        ASSERT_EQ(DlInitialize(nullptr, &Events::Callback, &events), DL_OK);
        target = base + "/download/";
    }
    void TearDown() override
    {
        DlFinalize();
        SetConnectivityCheckForTesting(nullptr);
        unsetenv("ZDR_AGENT_HOST");
        nginx.Stop();
        agent.Stop();
    }
    // Served by nginx under /files/name.
    std::string Serve(const std::string& name, size_t size)
    {
        const std::string bytes = RandomBytes(size, static_cast<unsigned>(size + name.size()));
        WriteFile(nginx.Root() + "/files/" + name, bytes);
        return bytes;
    }
    int NewJob()
    {
        int job = 0;
        EXPECT_EQ(DlCreateJob(&job, "zdr", "svc-plain"), DL_OK);
        return job;
    }
    void Add(int job, const std::string& url, const std::string& name, const std::string& folder = "")
    {
        // Unknown size, as the application adds its files.
        EXPECT_EQ(DlAddJobFile(job, url.c_str(), (folder.empty() ? target : folder).c_str(), name.c_str(), 0xFFFFFFFFu, -1, 1),
                  DL_OK);
    }
    std::vector<Notice> Notices(int job) { return PopNotices(job); }
    bool WaitForReports(size_t lines)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string output = agent.Output();
            if (static_cast<size_t>(std::count(output.begin(), output.end(), '\n')) >= lines) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string base;
    std::string target;
    NginxProcess nginx;
    AgentServerProcess agent;
    Events events;
};

} // namespace

TEST_F(PlainDownload, AJobOfADozenFilesLandsByteIdenticalWithItsEventsAndReport)
{
    struct Entry {
        std::string name;
        size_t size;
        std::string url;
    };
    std::vector<Entry> entries;
    const size_t sizes[] = {1, 777, 4096, 65535, 65536, 100000, 1 << 20, (3 << 20) + 123, 5 << 20, 2500000, 12345, 8};
    for (size_t i = 0; i < std::size(sizes); ++i) {
        const std::string name = "data" + std::to_string(i) + ".bin";
        entries.push_back({name, sizes[i], nginx.Url("/files/" + name)});
    }
    entries[3].url = nginx.Url("/redirect/files/" + entries[3].name);
    entries[5].url = nginx.Url("/missing/" + entries[5].name) + "|" + nginx.Url("/files/" + entries[5].name);
    std::vector<std::string> contents;
    const int job = NewJob();
    uint64_t total = 0;
    for (const Entry& entry : entries) {
        contents.push_back(Serve(entry.name, entry.size));
        total += entry.size;
        Add(job, entry.url, entry.name);
    }
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    EXPECT_EQ(DlStartJob(job, 1), DL_ERR_ALREADY_RUNNING);
    ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE));

    EXPECT_EQ(events.Count(DL_EVENT_JOB_SIZE), 1);
    EXPECT_EQ(events.Count(DL_EVENT_FILE_DONE), 12);
    EXPECT_EQ(events.Count(DL_EVENT_JOB_COMPLETE), 1);
    EXPECT_GE(events.Count(DL_EVENT_JOB_PROGRESS), 1);
    EXPECT_EQ(events.Count(DL_EVENT_NOTICE), 0);
    DlSizeInfo size{};
    EXPECT_EQ(DlGetJobSizeInfo(job, &size), DL_OK);
    EXPECT_EQ(size.fileCount, 12);
    EXPECT_EQ(size.totalBytes, static_cast<long long>(total));
    DlJobResult result{};
    EXPECT_EQ(DlGetJobResult(job, &result), DL_OK);
    EXPECT_EQ(result.fileCount, 12);
    EXPECT_EQ(result.valueA, 12);
    DlProgress progress{};
    EXPECT_EQ(DlGetJobProgress(job, &progress), DL_OK);
    EXPECT_EQ(progress.bytesPresent, static_cast<long long>(total));
    EXPECT_EQ(progress.percent, 100);
    EXPECT_EQ(progress.filesDone, 12);

    std::set<std::string> doneTexts;
    for (int i = 0; i < 12; ++i) {
        DlFileDone done{};
        EXPECT_EQ(DlPopJobFileDone(job, &done), DL_OK);
        EXPECT_EQ(done.fileCount, 12);
        doneTexts.insert(done.text);
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(entries[i].name);
        EXPECT_TRUE(ReadFile(target + entries[i].name) == contents[i]);
        EXPECT_EQ(doneTexts.count(entries[i].url + "," + target + entries[i].name), 1u);
    }

    ASSERT_TRUE(WaitForReports(12));
    const std::string reports = agent.Output();
    for (const Entry& entry : entries)
        EXPECT_NE(reports.find("{\"serviceId\":\"svc-plain\",\"url\":\"" + entry.url + "\",\"bytes\":" +
                               std::to_string(entry.size) + "}\n"),
                  std::string::npos)
            << entry.name;
    const std::string log = ReadLog();
    for (const char* line : {"[MeshpullLib] Launch(3.5.0.2)", "[MeshpullLib] CPlatFormDownloader Begin",
                             "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(DlRemoveJob(job), DL_OK);
}

TEST_F(PlainDownload, TheSecondAlternativeServesAFileTheFirstDoesNotHave)
{
    const std::string bytes = Serve("only-here.bin", 300000);
    const std::string entry = nginx.Url("/gone/only-here.bin") + "|" + nginx.Url("/files/only-here.bin");
    const int job = NewJob();
    Add(job, entry, "only-here.bin");
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE));
    EXPECT_TRUE(ReadFile(target + "only-here.bin") == bytes);
    EXPECT_TRUE(Notices(job).empty());
    const std::string access = nginx.AccessLogWith("GET /gone/only-here.bin HTTP/1.1\" 404", 1);
    EXPECT_NE(access.find("GET /gone/only-here.bin HTTP/1.1\" 404"), std::string::npos);
}

TEST_F(PlainDownload, APartialFileIsResumedFromItsLength)
{
    const std::string bytes = Serve("big.bin", 3 << 20);
    const size_t present = 1 << 20;
    // A part an earlier run left, with the record of nginx's ETag for the file.
    WriteFile(target + "big.bin.part", bytes.substr(0, present));
    ASSERT_TRUE((CPartFileRecord{nginx.Url("/files/big.bin"), static_cast<int64_t>(bytes.size()),
                                 NginxProcess::Etag(nginx.Root() + "/files/big.bin")}
                     .Save(target + "big.bin.part")));
    const int job = NewJob();
    Add(job, nginx.Url("/files/big.bin"), "big.bin");
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE));
    EXPECT_TRUE(ReadFile(target + "big.bin") == bytes);
    EXPECT_NE(nginx.AccessLogWith("GET /files/big.bin HTTP/1.1\" 206", 1).find("GET /files/big.bin HTTP/1.1\" 206"),
              std::string::npos);
    // Only what travelled is reported.
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_NE(agent.Output().find("\"bytes\":" + std::to_string(bytes.size() - present) + "}"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(target + "big.bin.part"));
}

TEST_F(PlainDownload, FailuresBecomeNoticesAndNeverCompletion)
{
    struct Case {
        const char* name;
        std::string folder;
        std::string file;
        std::vector<int> notices;
        bool held; // a failed transfer keeps the job; a failed size check drops it
    };
    Serve("a.bin", 5000);
    std::filesystem::create_directories(target + "a.bin"); // a directory where the file should go
    const Case cases[] = {
        {"unwritable target", target, "a.bin", {DL_NOTICE_DOWNLOAD_FAILED}, true},
        {"full disk", "/dev/", "full", {DL_NOTICE_DISK_FULL, DL_NOTICE_DOWNLOAD_FAILED}, true},
        {"missing file", target, "missing.bin", {DL_NOTICE_DOWNLOAD_FAILED}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = events.Count(DL_EVENT_NOTICE);
        const std::string url = nginx.Url(std::string("/files/") + (c.file == "missing.bin" ? "missing.bin" : "a.bin"));
        const int job = NewJob();
        Add(job, url, c.file, c.folder);
        ASSERT_EQ(DlStartJob(job, 1), DL_OK);
        ASSERT_TRUE(events.WaitFor(DL_EVENT_NOTICE, before + static_cast<int>(c.notices.size())));
        std::vector<int> codes;
        // A local failure names the path and why; the others the URL.
        const std::string text = c.file == "a.bin"         ? target + "a.bin: Is a directory"
                                 : c.file == "missing.bin" ? url + ": HTTP 404 Not Found"
                                                           : url;
        for (const Notice& notice : Notices(job)) {
            codes.push_back(notice.code);
            EXPECT_EQ(notice.text, text);
        }
        EXPECT_EQ(codes, c.notices);
        EXPECT_EQ(DlStopJob(job), c.held ? DL_OK : DL_ERR_GENERAL);
        EXPECT_EQ(DlRemoveJob(job), DL_OK);
    }
    EXPECT_EQ(events.Count(DL_EVENT_FILE_DONE), 0);
    EXPECT_EQ(events.Count(DL_EVENT_JOB_COMPLETE), 0);
    EXPECT_NE(ReadLog().find("[MeshpullLib] CreateFile Failed(21) : " + target + "a.bin"), std::string::npos);
}

TEST_F(PlainDownload, FinalizingDuringATransferKeepsWhatArrived)
{
    // Mode 0 receives 393216 bytes per second: the transfer is still running
    // at the first progress event.
    const std::string bytes = Serve("slow.bin", 4 << 20);
    const int job = NewJob();
    Add(job, nginx.Url("/files/slow.bin"), "slow.bin");
    ASSERT_EQ(DlStartJob(job, 0), DL_OK);
    ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_PROGRESS));
    EXPECT_EQ(DlFinalize(), DL_OK);
    EXPECT_EQ(events.Count(DL_EVENT_JOB_COMPLETE), 0);
    // Nothing under the final name; the part keeps what arrived, for a resume.
    EXPECT_FALSE(std::filesystem::exists(target + "slow.bin"));
    const std::string partial = ReadFile(target + "slow.bin.part");
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), bytes.size());
    EXPECT_TRUE(bytes.compare(0, partial.size(), partial) == 0);
}

TEST_F(PlainDownload, WhatIsOnDiskIsNeverTrustedWithoutTheServersWord)
{
    const std::string bytes = Serve("v2.bin", 200000);
    struct Case {
        const char* name;
        std::string finalFile; // under the final name before the run
        std::string part;      // a part with a record of this validator
        std::string validator;
    };
    std::string otherVersion = bytes;
    std::reverse(otherVersion.begin(), otherVersion.end());
    const Case cases[] = {
        {"a same-size file of another version", otherVersion, "", ""},
        {"a shorter file is not spliced onto", otherVersion.substr(0, 1000), "", ""},
        {"a part of a file the server has changed since", "", otherVersion.substr(0, 5000), "\"0-0\""},
        {"a part without a record", "", otherVersion.substr(0, 5000), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(target + "v2.bin");
        if (!c.finalFile.empty()) WriteFile(target + "v2.bin", c.finalFile);
        if (!c.part.empty()) WriteFile(target + "v2.bin.part", c.part);
        if (!c.validator.empty()) {
            ASSERT_TRUE((CPartFileRecord{nginx.Url("/files/v2.bin"), static_cast<int64_t>(bytes.size()), c.validator}
                             .Save(target + "v2.bin.part")));
        }
        const int before = events.Count(DL_EVENT_JOB_COMPLETE);
        const int job = NewJob();
        Add(job, nginx.Url("/files/v2.bin"), "v2.bin");
        ASSERT_EQ(DlStartJob(job, 1), DL_OK);
        ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE, before + 1));
        EXPECT_TRUE(ReadFile(target + "v2.bin") == bytes);
        EXPECT_FALSE(std::filesystem::exists(target + "v2.bin.part"));
        EXPECT_TRUE(Notices(job).empty());
        EXPECT_EQ(DlRemoveJob(job), DL_OK);
    }
}

TEST_F(PlainDownload, AFileAnotherRunIsDownloadingIsLeftAlone)
{
    Serve("held.bin", 100000);
    WriteFile(target + "held.bin.part", "theirs");
    COutputFile other;
    ASSERT_EQ(other.OpenLocked(target + "held.bin.part"), COutputFile::LockResult::kOpened);
    const int job = NewJob();
    Add(job, nginx.Url("/files/held.bin"), "held.bin");
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_TRUE(events.WaitFor(DL_EVENT_NOTICE));
    const std::vector<Notice> notices = Notices(job);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].code, DL_NOTICE_DOWNLOAD_FAILED);
    EXPECT_EQ(notices[0].text, target + "held.bin.part: in use by another download");
    EXPECT_EQ(ReadFile(target + "held.bin.part"), "theirs");
    EXPECT_FALSE(std::filesystem::exists(target + "held.bin"));
    EXPECT_EQ(events.Count(DL_EVENT_JOB_COMPLETE), 0);
    EXPECT_EQ(DlStopJob(job), DL_OK);
    EXPECT_EQ(DlRemoveJob(job), DL_OK);
}

TEST_F(PlainDownload, PermanentAndTemporaryRedirectsAndADeadMirrorAreFollowed)
{
    const std::string bytes = Serve("r.bin", 70000);
    const std::vector<std::string> entries = {
        nginx.Url("/moved/files/r.bin"), nginx.Url("/temporary/files/r.bin"), nginx.Url("/permanent/files/r.bin"),
        "http://127.0.0.1:1/files/r.bin|" + nginx.Url("/files/r.bin")};
    for (const std::string& entry : entries) {
        SCOPED_TRACE(entry);
        std::filesystem::remove(target + "r.bin");
        const int before = events.Count(DL_EVENT_JOB_COMPLETE);
        const int job = NewJob();
        Add(job, entry, "r.bin");
        ASSERT_EQ(DlStartJob(job, 1), DL_OK);
        ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE, before + 1));
        EXPECT_TRUE(ReadFile(target + "r.bin") == bytes);
        EXPECT_EQ(DlRemoveJob(job), DL_OK);
    }
}
