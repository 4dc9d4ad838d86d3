// The main window's rules, run against a scripted service, desktop and window.

#include "FakeDownloaderParts.h"

#include "app/CDownloaderDlgLogic.h"
#include "service/DlDefaults.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Stage = CDownloaderDlgLogic::Stage;
using Box = FakeDownloaderView::Box;

const std::string kApp = "zdr-downloader";
const std::string kHome = "/home/player/";
const std::string kFolder = "/home/player/tollan/VX2/";
const std::string kBase = "http://portal.test/download/vx2/zdrdownload/client/";

class DownloaderDlgLogicTest : public testing::Test {
protected:
    DownloaderDlgLogicTest() { Make(); }

    void Make(const std::string& commandLineUrl = "", const std::string& defaultUrl = "http://portal.test/list.txt")
    {
        settings.fileListUrl = commandLineUrl;
        settings.defaultFileListUrl = defaultUrl;
        settings.bannerUrl = "http://portal.test/download/vx2/zdrdownload/VX2_TW.gif";
        settings.appCaption = kApp;
        settings.homeFolder = kHome;
        settings.programFilesFolder = "/opt/";
        logic = std::make_unique<CDownloaderDlgLogic>(settings, service, shell, view);
    }

    // Up to the list's arrival (event 522).
    void FetchList(const std::string& body)
    {
        service.body = body;
        ASSERT_TRUE(logic->OnInitDialog(nullptr));
        logic->OnDlEvent(DL_EVENT_FETCH_DONE, 0);
    }

    // Up to the ready stage (event 525) with these files.
    void Ready(const std::vector<std::string>& names, long long total = 15204352)
    {
        std::string body;
        for (const std::string& name : names) body += kBase + name + "\r\n";
        FetchList(body);
        service.sizeCheckTotal = total;
        logic->OnDlEvent(DL_EVENT_SIZE_CHECK_DONE, 0);
        logic->OnRefresh();
    }

    void Downloading(const std::vector<std::string>& names)
    {
        Ready(names);
        logic->OnStartClicked();
        ASSERT_EQ(logic->GetStage(), Stage::Downloading);
    }

    void FileDone(const std::string& path)
    {
        service.fileDone.push_back(kBase + "x," + path);
        logic->OnDlEvent(DL_EVENT_FILE_DONE, logic->Job());
    }

    void Complete()
    {
        logic->OnDlEvent(DL_EVENT_JOB_COMPLETE, logic->Job());
        ASSERT_EQ(logic->GetStage(), Stage::Completed);
    }

    CDownloaderDlgLogic::Settings settings;
    FakeDlService service;
    FakeDesktopShell shell;
    FakeDownloaderView view;
    std::unique_ptr<CDownloaderDlgLogic> logic;
};

// --- start-up -------------------------------------------------------------

TEST_F(DownloaderDlgLogicTest, StartUpAsksForTheListAndSetsTheWindowUp)
{
    ASSERT_TRUE(logic->OnInitDialog(nullptr));
    EXPECT_EQ(service.calls, (std::vector<std::string>{"Initialize", "FetchData http://portal.test/list.txt"}));
    EXPECT_EQ(view.title, "VX2 Downloader");
    EXPECT_EQ(view.bannerUrl, "http://portal.test/download/vx2/zdrdownload/VX2_TW.gif");
    EXPECT_TRUE(view.consentChecked);
    EXPECT_EQ(logic->Consent(), "2");
    EXPECT_FALSE(view.buttons.installShown);
    EXPECT_TRUE(view.buttons.browseShown);
    EXPECT_EQ(view.shown.downloadFolder, kFolder);
    EXPECT_EQ(logic->GetStage(), Stage::FetchingList);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(DownloaderDlgLogicTest, CommandLineUrlWinsOverTheDefault)
{
    Make("http://other.test/files.txt");
    ASSERT_TRUE(logic->OnInitDialog(nullptr));
    EXPECT_TRUE(service.Called("FetchData http://other.test/files.txt"));
}

TEST_F(DownloaderDlgLogicTest, FailedServiceStartQuitsButStillAsksForTheList)
{
    service.initializeResult = DL_ERR_GENERAL;
    service.fetchResult = DL_ERR_GENERAL;
    EXPECT_FALSE(logic->OnInitDialog(nullptr));
    // The second failure's box is not shown: the quit is already on its way.
    EXPECT_EQ(view.messages, (std::vector<Box>{{"初始化失敗。", kApp}}));
    EXPECT_TRUE(service.Called("FetchData http://portal.test/list.txt"));
    EXPECT_EQ(view.quitPosted, 1);
    EXPECT_EQ(view.title, "");
}

TEST_F(DownloaderDlgLogicTest, FailedListRequestQuitsBeforeTheSkin)
{
    service.fetchResult = DL_ERR_GENERAL;
    EXPECT_FALSE(logic->OnInitDialog(nullptr));
    EXPECT_EQ(view.messages, (std::vector<Box>{{"下載檔案目錄失敗。", kApp}}));
    EXPECT_EQ(view.quitPosted, 1);
    EXPECT_EQ(view.title, "");
    EXPECT_EQ(view.bannerUrl, "");
}

// --- the file list --------------------------------------------------------

TEST_F(DownloaderDlgLogicTest, ListLineOf1023BytesIsTakenAnd1024EndTheProgram)
{
    const std::string prefix = "http://portal.test/";
    const std::string line1023 = prefix + std::string(1023 - prefix.size(), 'a');
    const std::string line1024 = prefix + std::string(1024 - prefix.size(), 'a');
    {
        FetchList(line1023 + "\r\n");
        EXPECT_EQ(logic->FileUrls(), (std::vector<std::string>{line1023}));
        EXPECT_EQ(service.sizeCheckUrls, (std::vector<std::string>{line1023}));
        EXPECT_TRUE(view.messages.empty());
        EXPECT_EQ(logic->GetStage(), Stage::CheckingSizes);
    }
    service = FakeDlService();
    view = FakeDownloaderView();
    Make();
    FetchList(line1024 + "\r\n");
    EXPECT_EQ(view.messages, (std::vector<Box>{{"輸入了錯誤的URL", "VX2"}}));
    EXPECT_EQ(view.quitPosted, 1);
    EXPECT_TRUE(service.sizeCheckUrls.empty());
}

TEST_F(DownloaderDlgLogicTest, ListsWhoseFilesWouldWriteOverEachOtherEndTheProgram)
{
    const std::string lists[] = {
        kBase + "a.bin\r\n" + kBase + "mirror/a.bin\r\n",
        kBase + "a.bin\r\n" + kBase + "b.bin\r\n" + kBase + "a.bin.zdrctl\r\n",
        kBase + "a.bin.part\r\n" + kBase + "a.bin\r\n",
        // The job would refuse the second file (it compares names without
        // regard to case) and the download would lack it.
        kBase + "A.bin\r\n" + kBase + "a.BIN.zdrpart\r\n",
    };
    for (const std::string& list : lists) {
        service = FakeDlService();
        view = FakeDownloaderView();
        Make();
        FetchList(list);
        EXPECT_EQ(view.messages, (std::vector<Box>{{"輸入了錯誤的URL", "VX2"}})) << list;
        EXPECT_EQ(view.quitPosted, 1) << list;
        EXPECT_TRUE(service.sizeCheckUrls.empty()) << list;
    }
}

TEST_F(DownloaderDlgLogicTest, ListsThatNameNoFileEndTheProgram)
{
    struct Case {
        const char* name;
        std::string body;
        long long reportedSize;
        int dataResult;
    };
    const Case cases[] = {
        {"blank lines only", "\r\n\n\r\n", -1, DL_OK},
        {"nothing fetched", "", -1, DL_OK},
        {"body that cannot be copied", kBase + "a.bin\r\n", -1, DL_ERR_GENERAL},
        {"size beyond any list", kBase + "a.bin\r\n", CDownloaderDlgLogic::kMaxListBytes + 1, DL_OK},
    };
    for (const Case& c : cases) {
        service = FakeDlService();
        view = FakeDownloaderView();
        Make();
        service.reportedSize = c.reportedSize;
        service.fetchedDataResult = c.dataResult;
        FetchList(c.body);
        EXPECT_EQ(view.messages, (std::vector<Box>{{"下載檔案目錄失敗", "VX2"}})) << c.name;
        EXPECT_EQ(view.quitPosted, 1) << c.name;
        EXPECT_TRUE(service.sizeCheckUrls.empty()) << c.name;
    }
}

TEST_F(DownloaderDlgLogicTest, FailedListFetchEndsTheProgram)
{
    ASSERT_TRUE(logic->OnInitDialog(nullptr));
    logic->OnDlEvent(DL_EVENT_FETCH_FAILED, 0);
    EXPECT_EQ(view.messages, (std::vector<Box>{{"下載檔案目錄失敗", "VX2"}}));
    EXPECT_EQ(view.quitPosted, 1);
}

TEST_F(DownloaderDlgLogicTest, SizeCheckFailuresEndTheProgramWithOneBox)
{
    service.addSizeCheckResult = DL_ERR_GENERAL;
    service.startSizeCheckResult = DL_ERR_GENERAL;
    FetchList(kBase + "a.bin\r\n" + kBase + "b.bin\r\n");
    // Every URL is still handed over; one box, one quit.
    EXPECT_EQ(service.sizeCheckUrls.size(), 2u);
    EXPECT_TRUE(service.Called("StartSizeCheck"));
    EXPECT_EQ(view.messages, (std::vector<Box>{{"檔案大小確認失敗", kApp}}));
    EXPECT_EQ(view.quitPosted, 1);

    service = FakeDlService();
    view = FakeDownloaderView();
    Make();
    FetchList(kBase + "a.bin\r\n");
    logic->OnDlEvent(DL_EVENT_SIZE_CHECK_FAILED, 0);
    EXPECT_EQ(view.messages, (std::vector<Box>{{"檔案大小確認失敗", kApp}}));
    EXPECT_EQ(view.quitPosted, 1);
}

TEST_F(DownloaderDlgLogicTest, TotalsShowTheFirstFileAndZeroCounters)
{
    Ready({"data1.bin", "data2.bin", "ZDRSetup.exe"}, 15204352);
    const IDownloaderView::Texts expected{"data1.bin [1/3]", "0 Bytes", "14.50 MB", "00:00:00", "00:00:00",
                                          "0.0 Bytes", kFolder};
    EXPECT_EQ(logic->Texts(), expected);
    EXPECT_EQ(view.refreshPosted, 1);
    EXPECT_EQ(view.shown, expected);
    EXPECT_EQ(view.centred, 1);
    EXPECT_EQ(logic->GetStage(), Stage::Ready);
}

TEST_F(DownloaderDlgLogicTest, FileLabels)
{
    struct Case {
        std::string url;
        int current, count;
        std::string label;
    };
    const Case cases[] = {
        {kBase + "data1.bin", 1, 3, "data1.bin [1/3]"},
        {"no-slash-at-all", 1, 3, " [1/3]"},
        {"http://portal.test/dir/", 2, 2, " [2/2]"},
        {kBase + "a.bin|http://mirror.test/client/a.bin", 1, 1, "a.bin [1/1]"},
    };
    for (const Case& c : cases) EXPECT_EQ(CDownloaderDlgLogic::FileLabel(c.url, c.current, c.count), c.label) << c.url;
}

// --- folders --------------------------------------------------------------

TEST_F(DownloaderDlgLogicTest, DefaultFolderLiesUnderHome)
{
    EXPECT_EQ(DefaultDownloadFolder("/home/player/"), "/home/player/tollan/VX2/");
    EXPECT_EQ(DefaultDownloadFolder("/home/player"), "/home/player/tollan/VX2/");
    EXPECT_EQ(DefaultDownloadFolder(std::string(getenv("HOME")) + "/"), DefaultDownloadFolder());
}

TEST_F(DownloaderDlgLogicTest, FolderChoiceShowsRequiredAndFreeSpace)
{
    Ready({"a.bin", "b.bin"}, 1536);
    shell.freeBytes = 3 * 1024 * 1024;
    view.folderToChoose = "/data/games";
    logic->OnBrowseClicked();
    EXPECT_EQ(shell.created, (std::vector<std::string>{kFolder}));
    EXPECT_EQ(view.chooserTitle, "至少需要 1.50 KB 容量。\n");
    EXPECT_EQ(view.chooserInitial, kFolder);
    ASSERT_TRUE(view.chooserStatus);
    EXPECT_EQ(view.chooserStatus("/data/"), "至少需要 1.50 KB 容量。\n剩餘容量：3.00 MB");
    EXPECT_EQ(logic->Texts().downloadFolder, "/data/games/");
    EXPECT_EQ(view.shown.downloadFolder, "/data/games/");
    // A volume that cannot be asked shows no free space.
    shell.freeBytes = 0;
    EXPECT_EQ(view.chooserStatus("/nowhere/"), "至少需要 1.50 KB 容量。\n剩餘容量：0 Bytes");
}

TEST_F(DownloaderDlgLogicTest, ChosenFoldersGetOneTrailingSlash)
{
    const std::pair<std::string, std::string> cases[] = {{"/data/games", "/data/games/"}, {"/", "/"}, {"/data/", "/data/"}};
    for (const auto& [chosen, folder] : cases) {
        Make();
        view.folderToChoose = chosen;
        logic->OnBrowseClicked();
        EXPECT_EQ(logic->Texts().downloadFolder, folder) << chosen;
    }
}

TEST_F(DownloaderDlgLogicTest, EngineFolderIsRefused)
{
    Ready({"a.bin"});
    EXPECT_EQ(logic->EngineExePath(), "/opt/Ostrel/ZDRDownloader/ZDRDownloaderEngine.exe");
    view.folderToChoose = "/opt/Ostrel/ZDRDownloader";
    logic->OnBrowseClicked();
    EXPECT_EQ(view.messages, (std::vector<Box>{{"選擇的路徑無法使用", kApp}}));
    EXPECT_EQ(logic->Texts().downloadFolder, kFolder);
    EXPECT_TRUE(logic->IsEngineFolder("/opt/Ostrel/ZDRDownloader/"));
    EXPECT_FALSE(logic->IsEngineFolder("/opt/Ostrel/"));
    EXPECT_FALSE(logic->IsEngineFolder("/opt/Ostrel/ZDRDownloader/games/"));
}

TEST_F(DownloaderDlgLogicTest, FolderChosenBeforeTheSizeCheckShowsZeroAndIsReset)
{
    FetchList(kBase + "a.bin\r\n");
    view.folderToChoose = "/data/early";
    logic->OnBrowseClicked();
    EXPECT_EQ(view.chooserTitle, "至少需要 0 Bytes 容量。\n");
    EXPECT_EQ(logic->Texts().downloadFolder, "/data/early/");
    service.sizeCheckTotal = 100;
    logic->OnDlEvent(DL_EVENT_SIZE_CHECK_DONE, 0);
    EXPECT_EQ(logic->Texts().downloadFolder, kFolder);
}

TEST_F(DownloaderDlgLogicTest, FolderChosenInAnEarlierRunIsOfferedAgain)
{
    settings.savedFolder = "/data/games/VX2/";
    logic = std::make_unique<CDownloaderDlgLogic>(settings, service, shell, view);
    ASSERT_TRUE(logic->OnInitDialog(nullptr));
    EXPECT_EQ(view.shown.downloadFolder, "/data/games/VX2/");
    Ready({"a.bin"});
    EXPECT_EQ(logic->Texts().downloadFolder, "/data/games/VX2/");
    EXPECT_EQ(view.shown.downloadFolder, "/data/games/VX2/");
    logic->OnStartClicked();
    ASSERT_FALSE(service.jobFiles.empty());
    EXPECT_EQ(service.jobFiles[0].second, "/data/games/VX2/");
}

TEST_F(DownloaderDlgLogicTest, SavedFolderThatAChoiceWouldBeRefusedIsNotOffered)
{
    settings.savedFolder = "/opt/Ostrel/ZDRDownloader/";
    logic = std::make_unique<CDownloaderDlgLogic>(settings, service, shell, view);
    ASSERT_TRUE(logic->OnInitDialog(nullptr));
    EXPECT_EQ(view.shown.downloadFolder, kFolder);
}

TEST_F(DownloaderDlgLogicTest, CancelledChoiceAndChoiceWhileDownloadingChangeNothing)
{
    Ready({"a.bin"});
    logic->OnBrowseClicked();
    EXPECT_EQ(logic->Texts().downloadFolder, kFolder);
    logic->OnStartClicked();
    view.chooserTitle.clear();
    view.folderToChoose = "/data/x";
    logic->OnBrowseClicked();
    EXPECT_EQ(view.chooserTitle, "");
    EXPECT_EQ(logic->Texts().downloadFolder, kFolder);
}

// --- consent --------------------------------------------------------------

TEST_F(DownloaderDlgLogicTest, ConsentNoKeepsTheBoxChecked)
{
    Ready({"a.bin"});
    view.answers = {false};
    logic->OnConsentClicked(false);
    EXPECT_EQ(view.questions,
              (std::vector<Box>{{"不同意超高速下載時，以一般下載方式進行。\n要使用一般下載方式進行嗎？", kApp}}));
    EXPECT_EQ(logic->Consent(), "2");
    EXPECT_TRUE(view.consentChecked);
    logic->OnStartClicked();
    EXPECT_EQ(service.startModes, (std::vector<int>{1}));
}

TEST_F(DownloaderDlgLogicTest, ConsentYesStartsTheNextJobInPlainMode)
{
    Ready({"a.bin"});
    view.consentChecked = false;
    view.answers = {true};
    logic->OnConsentClicked(false);
    EXPECT_EQ(logic->Consent(), "1");
    EXPECT_FALSE(view.consentChecked);
    logic->OnStartClicked();
    logic->OnConsentClicked(true);
    EXPECT_EQ(logic->Consent(), "2");
    logic->OnStartClicked();
    logic->OnStartClicked();
    EXPECT_EQ(service.startModes, (std::vector<int>{0, 1}));
}

// --- start and stop -------------------------------------------------------

TEST_F(DownloaderDlgLogicTest, StartCreatesTheJobWithEveryFile)
{
    Ready({"a.bin", "b.bin"});
    logic->OnStartClicked();
    const std::vector<std::string> expected = {
        "SetServiceId quillet_stonereach2",
        "CreateJob quillet_stonereach2",
        "SetJobEngineFlag 7",
        "AddJobFile 7 " + kBase + "a.bin " + kFolder + " -1 1",
        "AddJobFile 7 " + kBase + "b.bin " + kFolder + " -1 1",
        "StartJob 7",
    };
    const auto first = std::find(service.calls.begin(), service.calls.end(), expected.front());
    ASSERT_NE(first, service.calls.end());
    EXPECT_EQ(std::vector<std::string>(first, service.calls.end()), expected);
    EXPECT_EQ(shell.saved, (std::vector<std::string>{kFolder}));
    EXPECT_EQ(view.buttons, (IDownloaderView::Buttons{true, true, false, false}));
    EXPECT_EQ(logic->Job(), 7);
}

TEST_F(DownloaderDlgLogicTest, StartWhileRunningStopsAndResetsTheCounters)
{
    Downloading({"a.bin", "b.bin", "c.bin"});
    FileDone(kFolder + "a.bin");
    FileDone(kFolder + "b.bin");
    EXPECT_EQ(logic->DoneFiles(), 2);
    EXPECT_EQ(logic->CurrentFile(), 3);
    EXPECT_EQ(logic->Texts().fileLabel, "c.bin [3/3]");

    logic->OnStartClicked();
    EXPECT_TRUE(service.Called("StopJob 7"));
    EXPECT_TRUE(service.Called("RemoveJob 7"));
    EXPECT_EQ(logic->Job(), 0);
    EXPECT_EQ(logic->DoneFiles(), 0);
    EXPECT_EQ(logic->CurrentFile(), 1);
    EXPECT_EQ(logic->GetStage(), Stage::Ready);
    EXPECT_EQ(view.buttons, (IDownloaderView::Buttons{true, false, true, false}));
    // The labels keep their last values.
    EXPECT_EQ(logic->Texts().fileLabel, "c.bin [3/3]");

    service.jobFiles.clear();
    logic->OnStartClicked();
    EXPECT_EQ(logic->Job(), 8);
    EXPECT_EQ(service.jobFiles.size(), 3u);
}

TEST_F(DownloaderDlgLogicTest, StartBeforeTheListDoesNothing)
{
    ASSERT_TRUE(logic->OnInitDialog(nullptr));
    logic->OnStartClicked();
    EXPECT_FALSE(service.Called("CreateJob quillet_stonereach2"));
    EXPECT_EQ(logic->GetStage(), Stage::FetchingList);
}

TEST_F(DownloaderDlgLogicTest, StartWithoutAListUrlSaysSo)
{
    Make("", "");
    ASSERT_TRUE(logic->OnInitDialog(nullptr));
    logic->OnStartClicked();
    EXPECT_EQ(view.messages, (std::vector<Box>{{"不存在下載所用的協定", "VX2"}}));
    EXPECT_EQ(logic->Job(), 0);
}

TEST_F(DownloaderDlgLogicTest, JobTheServiceRefusesIsTakenBack)
{
    Ready({"a.bin"});
    service.startJobResult = DL_ERR_GENERAL;
    logic->OnStartClicked();
    EXPECT_TRUE(service.Called("RemoveJob 7"));
    EXPECT_EQ(logic->Job(), 0);
    EXPECT_EQ(logic->GetStage(), Stage::Ready);
    EXPECT_EQ(view.messages, (std::vector<Box>{{"下載VX2失敗\n請稍候再試", "VX2"}}));
    EXPECT_TRUE(view.buttons.browseShown);
    EXPECT_TRUE(shell.saved.empty());

    service.createJobResult = DL_ERR_GENERAL;
    logic->OnStartClicked();
    EXPECT_EQ(logic->Job(), 0);
    EXPECT_EQ(view.messages.size(), 2u);
}

// --- progress and files ---------------------------------------------------

TEST_F(DownloaderDlgLogicTest, ProgressFillsTextsBarsAndGraph)
{
    Downloading({"a.bin"});
    service.progress.totalBytes = 15204352;
    service.progress.bytesPresent = 1536;
    service.progress.speed = 2048;
    service.progress.elapsedSeconds = 61;
    // 25 hours, 1 minute and 1 second: the whole hours show.
    service.progress.remainingSeconds = 90061;
    service.progress.percent = 40;
    service.progress.filePercent = 75;
    logic->OnDlEvent(DL_EVENT_JOB_PROGRESS, logic->Job());
    EXPECT_EQ(view.shown.total, "14.50 MB");
    EXPECT_EQ(view.shown.received, "1.50 KB");
    EXPECT_EQ(view.shown.status, "2.00 KB/Sec");
    EXPECT_EQ(view.shown.elapsed, "00:01:01");
    EXPECT_EQ(view.shown.remaining, "25:01:01");
    EXPECT_EQ(view.filePercent, 75);
    EXPECT_EQ(view.jobPercent, 40);
}

TEST_F(DownloaderDlgLogicTest, GraphSamplesAreBinaryMegabitsRoundedDown)
{
    Downloading({"a.bin"});
    for (int speed : {0, 131071, 131072, 1048576, 2147483647, -131072}) {
        service.progress.speed = speed;
        logic->OnDlEvent(DL_EVENT_JOB_PROGRESS, logic->Job());
    }
    EXPECT_EQ(view.graphSamples, (std::vector<int>{0, 0, 1, 8, 16383, -1}));
}

TEST_F(DownloaderDlgLogicTest, JobStartEventZeroesTheRemainingTime)
{
    Downloading({"a.bin"});
    service.progress.remainingSeconds = 50;
    logic->OnDlEvent(DL_EVENT_JOB_PROGRESS, logic->Job());
    logic->OnDlEvent(DL_EVENT_JOB_SIZE, logic->Job());
    EXPECT_EQ(view.shown.remaining, "00:00:00");
}

TEST_F(DownloaderDlgLogicTest, OneFileListMakesThatFileTheInstallerWhateverItsName)
{
    Downloading({"client.bin"});
    FileDone(kFolder + "client.bin");
    EXPECT_EQ(logic->InstallerPath(), kFolder + "client.bin");
}

TEST_F(DownloaderDlgLogicTest, WithSeveralFilesTheLastExeToFinishWins)
{
    Downloading({"a.bin", "Setup.EXE", "b.bin", "patch.exe", "notes"});
    struct Step {
        std::string file;
        std::string installer;
    };
    const Step steps[] = {
        {"a.bin", ""}, {"Setup.EXE", kFolder + "Setup.EXE"}, {"b.bin", kFolder + "Setup.EXE"},
        {"patch.exe", kFolder + "patch.exe"}, {"notes", kFolder + "patch.exe"},
    };
    for (const Step& step : steps) {
        FileDone(kFolder + step.file);
        EXPECT_EQ(logic->InstallerPath(), step.installer) << step.file;
    }
    EXPECT_EQ(logic->DoneFiles(), 5);
    // Past the last file the label stays on it.
    EXPECT_EQ(logic->Texts().fileLabel, "notes [5/5]");
}

TEST_F(DownloaderDlgLogicTest, InstallerMustLieInTheJobsFolder)
{
    Downloading({"a.exe", "b.exe"});
    const std::string outside[] = {"/tmp/evil.exe", kFolder + "../evil.exe", kFolder + "sub/../../evil.exe",
                                   "/home/player/tollan/VX2evil.exe", kFolder};
    for (const std::string& path : outside) EXPECT_FALSE(logic->IsInstallerPath(path)) << path;
    EXPECT_TRUE(logic->IsInstallerPath(kFolder + "sub/setup.exe"));
    EXPECT_FALSE(logic->IsInstallerPath(""));
    EXPECT_FALSE(logic->IsInstallerPath(kFolder + "setup"));
}

TEST_F(DownloaderDlgLogicTest, LocalPathsOfFileDoneTexts)
{
    struct Case {
        std::string text;
        std::string path;
    };
    const Case cases[] = {
        {"http://p/a.exe," + kFolder + "a.exe", kFolder + "a.exe"},
        {"http://p/a,b.exe," + kFolder + "a,b.exe", kFolder + "a,b.exe"},
        {"http://p/a.exe,/elsewhere/a.exe", "/elsewhere/a.exe"},
        {"no comma", "no comma"},
    };
    for (const Case& c : cases) EXPECT_EQ(CDownloaderDlgLogic::LocalPathOf(c.text, kFolder), c.path) << c.text;
}

TEST_F(DownloaderDlgLogicTest, EventsOfAStoppedJobAreIgnored)
{
    Downloading({"a.exe", "b.bin"});
    const int oldJob = logic->Job();
    logic->OnStartClicked();
    logic->OnStartClicked();
    ASSERT_NE(logic->Job(), oldJob);
    service.fileDone.push_back("x," + kFolder + "a.exe");
    service.notices.push_back(DL_NOTICE_NETWORK_LOST);
    for (int code : {DL_EVENT_FILE_DONE, DL_EVENT_NOTICE, DL_EVENT_JOB_COMPLETE, DL_EVENT_JOB_PROGRESS})
        logic->OnDlEvent(code, oldJob);
    logic->OnDlEvent(DL_EVENT_FILE_DONE, 0);
    EXPECT_EQ(logic->DoneFiles(), 0);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(logic->GetStage(), Stage::Downloading);
    // An empty queue counts nothing either.
    service.fileDone.clear();
    logic->OnDlEvent(DL_EVENT_FILE_DONE, logic->Job());
    EXPECT_EQ(logic->DoneFiles(), 0);
}

// --- notices and questions ------------------------------------------------

TEST_F(DownloaderDlgLogicTest, NoticesShowTheirBoxes)
{
    struct Case {
        int code;
        std::vector<Box> boxes;
        Stage after;
    };
    const Case cases[] = {
        {DL_NOTICE_DISK_FULL, {{"硬碟(" + kFolder + ")的空間不足(1.50 KB)。", "VX2"}}, Stage::Ready},
        {DL_NOTICE_NETWORK_LOST, {{"您的網路狀態不佳", "VX2"}}, Stage::Downloading},
        {DL_NOTICE_NETWORK_RESTORED, {{"您的網路回復正常", "VX2"}}, Stage::Downloading},
        {DL_NOTICE_DOWNLOAD_FAILED, {{"下載VX2失敗\n請稍候再試", "VX2"}}, Stage::Downloading},
        {DL_NOTICE_ENGINE_GAVE_UP, {}, Stage::Downloading},
        {DL_NOTICE_NONE, {}, Stage::Downloading},
    };
    for (const Case& c : cases) {
        service = FakeDlService();
        view = FakeDownloaderView();
        Make();
        Downloading({"a.bin"});
        service.remaining = 1536;
        service.notices.push_back(c.code);
        logic->OnDlEvent(DL_EVENT_NOTICE, logic->Job());
        EXPECT_EQ(view.messages, c.boxes) << c.code;
        EXPECT_EQ(logic->GetStage(), c.after) << c.code;
    }
}

TEST_F(DownloaderDlgLogicTest, ResumeQuestionIsAnsweredForTheJob)
{
    Downloading({"a.bin"});
    view.resumeAnswer = {false, true};
    logic->OnDlEvent(DL_EVENT_ASK_RESUME, logic->Job());
    EXPECT_EQ(view.resumeAsked, 1);
    EXPECT_TRUE(service.Called("AnswerResume 7"));
    EXPECT_EQ(service.resumeAnswers, (std::vector<std::pair<bool, bool>>{{false, true}}));
}

TEST_F(DownloaderDlgLogicTest, ServiceWideEventsOutsideTheTableAreIgnored)
{
    Downloading({"a.bin"});
    const size_t calls = service.calls.size();
    for (int code : {DL_EVENT_UPDATE_BEGIN, DL_EVENT_UPDATE_PROGRESS, DL_EVENT_UPDATE_SUCCEEDED,
                     DL_EVENT_UPDATE_FAILED, DL_EVENT_ENGINE_PATH_FAILED, DL_EVENT_FETCH_TICK, DL_EVENT_ENGINE_STATUS})
        logic->OnDlEvent(code, 0);
    EXPECT_EQ(service.calls.size(), calls);
    EXPECT_TRUE(view.messages.empty());
}

// --- completion and install -----------------------------------------------

TEST_F(DownloaderDlgLogicTest, CompletionShowsInstallAndLocksTheRest)
{
    Downloading({"a.bin", "ZDRSetup.exe"});
    FileDone(kFolder + "a.bin");
    FileDone(kFolder + "ZDRSetup.exe");
    Complete();
    EXPECT_TRUE(service.Called("RemoveJob 7"));
    EXPECT_EQ(view.buttons, (IDownloaderView::Buttons{false, false, false, true}));
    EXPECT_TRUE(view.statusHighlighted);
    EXPECT_EQ(view.shown.remaining, "00:00:00");

    const size_t calls = service.calls.size();
    logic->OnStartClicked();
    view.folderToChoose = "/data";
    logic->OnBrowseClicked();
    logic->StopDownload();
    EXPECT_EQ(service.calls.size(), calls);
    EXPECT_EQ(logic->Texts().downloadFolder, kFolder);
    EXPECT_EQ(view.buttons, (IDownloaderView::Buttons{false, false, false, true}));
}

TEST_F(DownloaderDlgLogicTest, InstallBeforeCompletionSaysSo)
{
    Downloading({"a.exe"});
    logic->OnInstallClicked();
    EXPECT_EQ(view.messages, (std::vector<Box>{{"尚未結束下載。", kApp}}));
    EXPECT_EQ(view.installerPosted, 0);
}

TEST_F(DownloaderDlgLogicTest, InstallShowsTheFinalStatusThenStartsTheInstallerAndQuits)
{
    Downloading({"a.bin", "ZDRSetup.exe"});
    FileDone(kFolder + "ZDRSetup.exe");
    Complete();
    logic->OnInstallClicked();
    EXPECT_EQ(view.buttons, (IDownloaderView::Buttons{false, false, false, false}));
    EXPECT_TRUE(view.finalStatus);
    EXPECT_EQ(view.shown.status, "檢查下載的文件後執行安裝。");
    EXPECT_EQ(view.installerPosted, 1);
    EXPECT_EQ(logic->GetStage(), Stage::Installing);
    EXPECT_TRUE(shell.started.empty());

    shell.files.insert(kFolder + "ZDRSetup.exe");
    logic->OnRunInstaller();
    EXPECT_EQ(shell.started, (std::vector<std::string>{kFolder + "ZDRSetup.exe"}));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.quitPosted, 1);
}

TEST_F(DownloaderDlgLogicTest, InstallerProblemsAreNamedAndTheProgramQuits)
{
    struct Case {
        const char* name;
        bool installerDone;
        bool fileThere;
        bool starts;
        std::vector<Box> boxes;
    };
    const Case cases[] = {
        {"no installer", false, false, true, {{"該路徑(NULL)檔案不存在。", kApp}}},
        {"installer gone", true, false, true, {{"該路徑(" + kFolder + "setup.exe)檔案不存在。", kApp}}},
        {"installer refused to start", true, true, false, {}},
    };
    for (const Case& c : cases) {
        service = FakeDlService();
        view = FakeDownloaderView();
        shell = FakeDesktopShell();
        Make();
        Downloading({"a.bin", "setup.exe"});
        if (c.installerDone) FileDone(kFolder + "setup.exe");
        if (c.fileThere) shell.files.insert(kFolder + "setup.exe");
        shell.startResult = c.starts;
        Complete();
        logic->OnInstallClicked();
        logic->OnRunInstaller();
        EXPECT_EQ(view.messages, c.boxes) << c.name;
        EXPECT_EQ(view.quitPosted, 1) << c.name;
    }
}

// --- closing --------------------------------------------------------------

TEST_F(DownloaderDlgLogicTest, ClosingWithoutAJobNeverAsks)
{
    Ready({"a.bin"});
    logic->OnCloseClicked();
    logic->OnCloseWindow();
    EXPECT_TRUE(view.questions.empty());
    EXPECT_EQ(view.ended, 2);
}

TEST_F(DownloaderDlgLogicTest, ClosingDuringADownloadAsksAndNoKeepsItRunning)
{
    Downloading({"a.bin"});
    view.answers = {false, false};
    logic->OnCloseClicked();
    logic->OnCloseWindow();
    EXPECT_EQ(view.questions,
              (std::vector<Box>{{"關閉視窗時，即會中止下載 VX2\n確定要關閉視窗嗎？", "VX2"},
                                {"關閉視窗時，將立即終止下載 VX2\n確定要關閉視窗嗎？", "VX2"}}));
    EXPECT_EQ(view.ended, 0);
    EXPECT_EQ(logic->GetStage(), Stage::Downloading);

    view.answers = {true};
    logic->OnCloseWindow();
    EXPECT_TRUE(service.Called("RemoveJob 7"));
    EXPECT_EQ(view.ended, 1);
}

TEST_F(DownloaderDlgLogicTest, DestroyStopsTheJobBeforeTheServiceEnds)
{
    Downloading({"a.bin"});
    logic->OnDestroy();
    const std::vector<std::string> tail(service.calls.end() - 3, service.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"StopJob 7", "RemoveJob 7", "Finalize"}));
}

} // namespace
