#include "service/CJob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::pair<int, int>>* g_events = nullptr;
void Record(int code, int param, const void*)
{
    g_events->emplace_back(code, param);
}

class CJobTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_events = &events;
        target.callback = &Record;
    }
    std::vector<std::pair<int, int>> events;
    CEventTarget target;
};

} // namespace

TEST_F(CJobTest, ConstructionKeepsAtMostThreeTagAndThirtyTwoIdCharacters)
{
    CJob job(77, 3, "abcdef", "0123456789012345678901234567890123456789", target);
    EXPECT_STREQ(job.Tag(), "abc");
    EXPECT_EQ(strlen(job.ServiceId()), 32u);
    EXPECT_EQ(job.Mode(), 1);
    EXPECT_EQ(job.State(), JobState::Idle);
    EXPECT_EQ(job.Number(), 3);
    ASSERT_EQ(job.AddFile("http://h/a", "/g", nullptr, 5, 1, 0), 512);
    EXPECT_STREQ(job.Files()[0]->serviceId, job.ServiceId());
}

TEST_F(CJobTest, AddFileNormalisesFolderAndName)
{
    CJob job(1, 0, nullptr, nullptr, target);
    ASSERT_EQ(job.AddFile("  http://h/a/b.zip \t", "/home/a/games", nullptr, -1, 1, 0), 512);
    ASSERT_EQ(job.AddFile("http://h/noslash", "/x/", "given.bin", 7, 1, 2), 512);
    ASSERT_EQ(job.AddFile("nopath", "\\win\\style", nullptr, 7, 1, 2), 512);
    const auto& files = job.Files();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0]->url, "http://h/a/b.zip");
    EXPECT_EQ(files[0]->name, "b.zip");
    EXPECT_EQ(files[0]->folder, "/home/a/games/");
    EXPECT_EQ(files[0]->size, -1);
    EXPECT_EQ(files[1]->folder, "/x/");
    EXPECT_EQ(files[1]->name, "given.bin");
    EXPECT_EQ(files[1]->index, 1);
    EXPECT_EQ(files[1]->flagB, 2);
    EXPECT_EQ(files[2]->folder, "/win/style/");
    EXPECT_EQ(files[2]->name, "");

    // An empty alternative is no part of the entry, nor of the name.
    ASSERT_EQ(job.AddFile("http://h/c.bin| ", "/x/", nullptr, -1, 1, 0), 512);
    EXPECT_EQ(files[3]->url, "http://h/c.bin");
    EXPECT_EQ(files[3]->name, "c.bin");
    EXPECT_EQ(job.AddFile(" | ", "/x/", nullptr, -1, 1, 0), DL_ERR_URL);
}

TEST_F(CJobTest, DuplicateLocalPathInAnyCaseOrSeparatorIsRefused)
{
    CJob job(1, 0, nullptr, nullptr, target);
    ASSERT_EQ(job.AddFile("http://h/a/B.zip", "/Games/Tollan", nullptr, 1, 1, 0), 512);
    EXPECT_EQ(job.AddFile("http://mirror/b.zip", "/games/tollan/", nullptr, 1, 1, 0), 517);
    EXPECT_EQ(job.AddFile("http://mirror/x", "\\GAMES\\TOLLAN", "b.ZIP", 1, 1, 0), 517);
    EXPECT_EQ(job.AddFile("http://mirror/x", "/games/tollan/sub", "b.zip", 1, 1, 0), 512);
}

TEST_F(CJobTest, AFileNamedLikeAnotherFilesTemporaryIsRefused)
{
    // Either order: the temporary's name first, or the file whose temporary it is.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x.bin", "x.bin.part"},    {"x.bin", "X.BIN.PART.STATE"}, {"x.bin", "x.bin.zdrpart"},
        {"x.bin", "x.bin.zdrctl"},  {"x.bin.part", "x.bin"},       {"x.bin.zdrctl", "x.bin"},
        {"x.bin.part", "x.bin.part.part"},
    };
    for (const auto& [first, second] : cases) {
        CJob job(1, 0, nullptr, nullptr, target);
        ASSERT_EQ(job.AddFile(("http://h/" + first).c_str(), "/g", nullptr, 1, 1, 0), DL_OK) << first;
        EXPECT_EQ(job.AddFile(("http://h/" + second).c_str(), "/g", nullptr, 1, 1, 0), DL_ERR_GENERAL) << second;
        EXPECT_EQ(job.Files().size(), 1u) << second;
    }
    // Elsewhere, or merely alike, it is another file.
    CJob job(1, 0, nullptr, nullptr, target);
    ASSERT_EQ(job.AddFile("http://h/x.bin", "/g", nullptr, 1, 1, 0), DL_OK);
    EXPECT_EQ(job.AddFile("http://h/x.bin.part", "/g/sub", nullptr, 1, 1, 0), DL_OK);
    EXPECT_EQ(job.AddFile("http://h/x.bin.partial", "/g", nullptr, 1, 1, 0), DL_OK);
    EXPECT_EQ(job.AddFile("http://h/x.bin.state", "/g", nullptr, 1, 1, 0), DL_OK);
}

TEST_F(CJobTest, AddFileArgumentAndStateErrors)
{
    CJob job(1, 0, nullptr, nullptr, target);
    EXPECT_EQ(job.AddFile(nullptr, "/g", nullptr, 1, 1, 0), 513);
    EXPECT_EQ(job.AddFile("", "/g", nullptr, 1, 1, 0), 513);
    EXPECT_EQ(job.AddFile("http://h/a", "", nullptr, 1, 1, 0), 514);
    EXPECT_EQ(job.AddFile("http://h/a", nullptr, nullptr, 1, 1, 0), 514);
    for (JobState state : {JobState::Running, JobState::Completed}) {
        job.SetState(state);
        EXPECT_EQ(job.AddFile("http://h/a", "/g", nullptr, 1, 1, 0), 517);
    }
    EXPECT_TRUE(job.Files().empty());
}

TEST_F(CJobTest, SizeAndProgressReportOnlyInTheirState)
{
    CJob job(42, 0, nullptr, nullptr, target);
    job.ReportSize(2, 100); // idle: nothing
    job.SetState(JobState::Running);
    job.ReportProgress(); // no byte yet: nothing
    job.ReportSize(2, 100);
    DlProgress progress{};
    progress.bytesPresent = 1;
    job.SetProgress(progress);
    job.ReportSize(2, 200); // bytes counted: nothing
    job.ReportProgress();
    EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{513, 42}, {514, 42}}));
    DlSizeInfo info{};
    job.TakeSizeInfo(&info);
    EXPECT_EQ(info.totalBytes, 100);
}

TEST_F(CJobTest, FileDoneIsRaisedOncePerFile)
{
    CJob job(42, 0, nullptr, nullptr, target);
    ASSERT_EQ(job.AddFile("http://h/a.bin", "/g/Dir", nullptr, 1, 1, 0), 512);
    ASSERT_EQ(job.AddFile("http://h/b.bin", "/g/Dir", nullptr, 1, 1, 0), 512);
    DlProgress progress{};
    progress.fileCount = 2;
    job.SetProgress(progress);
    job.ReportFileDone("/g/dir/A.BIN", nullptr, "http://h/a.bin");
    job.ReportFileDone("/g/Dir/a.bin", nullptr, "http://h/a.bin");
    job.ReportFileDone("/g/Dir/unknown", nullptr, "x");
    job.ReportFileDone("/g/Dir/b.bin", "engine-name", "task7");
    EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{515, 42}, {515, 42}}));
    DlFileDone record{};
    job.PopFileDone(&record);
    EXPECT_EQ(record.fileCount, 2);
    EXPECT_EQ(record.sequence, 1);
    EXPECT_STREQ(record.text, "http://h/a.bin,/g/dir/A.BIN");
    job.PopFileDone(&record);
    EXPECT_EQ(record.sequence, 2);
    EXPECT_STREQ(record.text, "task7,engine-name");
    DlFileDone untouched{9, 9, "keep"};
    job.PopFileDone(&untouched);
    EXPECT_STREQ(untouched.text, "keep");
}

TEST_F(CJobTest, NoticesQueueInOrderWithTheirTexts)
{
    CJob job(42, 0, nullptr, nullptr, target);
    job.AddNotice(517, "http://h/a.bin");
    job.AddNotice(515, nullptr);
    job.AddNotice(516, "");
    EXPECT_EQ(events.size(), 3u);
    EXPECT_EQ(job.NoticeSize(), 15);
    char text[16];
    memset(text, 'X', sizeof text);
    DlNotice notice{0, text};
    job.PopNotice(&notice);
    EXPECT_EQ(notice.code, 517);
    EXPECT_EQ(std::string(text, 15), std::string("http://h/a.bin", 15)); // with its NUL
    EXPECT_EQ(text[15], 'X');                                           // and nothing beyond
    EXPECT_EQ(job.NoticeSize(), 0);
    DlNotice noText{0, nullptr};
    job.PopNotice(&noText);
    EXPECT_EQ(noText.code, 515);
    job.PopNotice(&noText);
    EXPECT_EQ(noText.code, 516);
    job.PopNotice(&noText);
    EXPECT_EQ(noText.code, 512);
}

TEST_F(CJobTest, ANoticeQueuedAfterTheSizeQueryIsNotWrittenIntoTheBufferSizedBeforeIt)
{
    CJob job(42, 0, nullptr, nullptr, target);
    EXPECT_EQ(job.NoticeSize(), 0); // nothing queued yet
    job.AddNotice(DL_NOTICE_DOWNLOAD_FAILED, "http://h/a.bin");
    char tiny[1] = {'X'};
    DlNotice notice{DL_NOTICE_NONE, tiny};
    EXPECT_EQ(job.PopNotice(&notice), DL_ERR_GENERAL);
    EXPECT_EQ(tiny[0], 'X');
    EXPECT_EQ(notice.code, DL_NOTICE_NONE);
    // Sized anew, the same notice comes whole; without a buffer no size is needed.
    ASSERT_EQ(job.NoticeSize(), 15);
    char text[16];
    memset(text, 'X', sizeof text);
    notice.text = text;
    EXPECT_EQ(job.PopNotice(&notice), DL_OK);
    EXPECT_EQ(notice.code, DL_NOTICE_DOWNLOAD_FAILED);
    EXPECT_STREQ(text, "http://h/a.bin");
    EXPECT_EQ(text[15], 'X');
    job.AddNotice(DL_NOTICE_DOWNLOAD_FAILED, "http://h/b.bin");
    DlNotice codeOnly{DL_NOTICE_NONE, nullptr};
    EXPECT_EQ(job.PopNotice(&codeOnly), DL_OK);
    EXPECT_EQ(codeOnly.code, DL_NOTICE_DOWNLOAD_FAILED);
}

TEST_F(CJobTest, CompletionRecordIsTakenOnce)
{
    CJob job(42, 0, nullptr, nullptr, target);
    ASSERT_EQ(job.AddFile("http://h/a.bin", "/g", nullptr, 1, 1, 0), 512);
    job.SetState(JobState::Running);
    DlProgress progress{};
    progress.bytesPresent = 1;
    job.SetProgress(progress);
    job.ReportComplete(1, 0);
    EXPECT_EQ(job.State(), JobState::Completed);
    EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{514, 42}, {516, 42}}));
    DlJobResult result{};
    job.TakeResult(&result);
    EXPECT_EQ(result.fileCount, 1);
    EXPECT_EQ(result.valueA, 1);
    DlJobResult again{-1, -1, -1};
    job.TakeResult(&again);
    EXPECT_EQ(again.fileCount, -1);
}
