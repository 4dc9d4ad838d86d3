// The main window on a private X display: where its controls stand, what
// its background shows, how the service's events reach it and how it ends.

#include "AppTestDisplay.h"
#include "FakeDownloaderParts.h"

#include "app/CButtonST.h"
#include "app/CFolderChooserDlg.h"
#include "app/CProgressST.h"
#include "app/CSkinImages.h"
#include "app/CZDRDownloaderDlg.h"
#include "app/ResourceIds.h"
#include "platform/MessageLoop.h"

#include <wx/app.h>
#include <wx/utils.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

namespace {

using Dlg = CZDRDownloaderDlg;
const std::string kBase = "http://portal.test/download/vx2/zdrdownload/client/";

class ZDRDownloaderDlgTest : public AppDisplayTest {
protected:
    void SetUp() override
    {
        AppDisplayTest::SetUp();
        settings.defaultFileListUrl = "http://portal.test/list.txt";
        settings.appCaption = "zdr-downloader";
        settings.homeFolder = "/home/player/";
        settings.programFilesFolder = "/opt/";
        service.body = kBase + "a.bin\r\n" + kBase + "ZDRSetup.exe\r\n";
        service.sizeCheckTotal = 2048;
    }

    void TearDown() override
    {
        dialog.reset();
        AppDisplayTest::TearDown();
    }

    Dlg& Make()
    {
        dialog = std::make_unique<Dlg>(settings, service, shell);
        return *dialog;
    }

    // Shows the window without a modal loop; showing runs its set-up.
    void Init() { dialog->Show(); }

    // Lets the window's loop run until done() holds (at most a few seconds).
    static bool RunUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            wxTheApp->ProcessPendingEvents();
            wxYield();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // The service's way in: a post to the event window from its own thread.
    void PostFromServiceThread(int code, int param)
    {
        HWND window = dialog->EventWindow();
        std::thread([window, code, param] { PostMessage(window, WM_DL_EVENT, code, param); }).join();
    }

    void Click(int id)
    {
        wxCommandEvent click(wxEVT_BUTTON, id);
        click.SetEventObject(dialog->FindWindow(id));
        dialog->FindWindow(id)->ProcessWindowEvent(click);
    }

    CDownloaderDlgLogic::Settings settings;
    FakeDlService service;
    FakeDesktopShell shell;
    std::unique_ptr<Dlg> dialog;
};

TEST_F(ZDRDownloaderDlgTest, ControlsStandWhereTheLayoutPutsThem)
{
    Dlg& dlg = Make();
    EXPECT_EQ(dlg.GetClientSize(), wxSize(748, 437));
    struct Place {
        int id;
        wxRect rect;
    };
    const Place places[] = {
        {Dlg::IDC_FILE_LABEL, {456, 28, 263, 14}}, {Dlg::IDC_RECEIVED, {456, 59, 263, 14}},
        {Dlg::IDC_TOTAL, {456, 90, 263, 14}},      {Dlg::IDC_ELAPSED, {460, 134, 85, 14}},
        {Dlg::IDC_REMAINING, {634, 134, 85, 14}},  {Dlg::IDC_STATUS, {456, 173, 270, 14}},
        {Dlg::IDC_GRAPH, {385, 191, 342, 69}},     {Dlg::IDC_FILE_PROGRESS, {441, 282, 286, 18}},
        {Dlg::IDC_JOB_PROGRESS, {441, 312, 286, 18}}, {Dlg::IDC_FOLDER, {447, 356, 201, 14}},
        // Buttons take their pictures' sizes.
        {Dlg::IDC_BROWSE, {662, 352, 60, 22}},     {Dlg::IDC_START, {384, 391, 110, 24}},
        {Dlg::IDC_INSTALL, {502, 391, 110, 24}},   {Dlg::IDC_CLOSE, {620, 391, 110, 24}},
    };
    for (const Place& place : places) {
        wxWindow* control = dlg.FindWindow(place.id);
        ASSERT_NE(control, nullptr) << place.id;
        EXPECT_EQ(control->GetRect(), place.rect) << place.id;
    }
    EXPECT_FALSE(dlg.FindWindow(Dlg::IDC_INSTALL)->IsShown());
    EXPECT_FALSE(dlg.FindWindow(Dlg::IDC_CONSENT)->IsShown());
    EXPECT_EQ(dlg.FindWindow(Dlg::IDC_CONSENT)->GetPosition(), wxPoint(13, 293));
    EXPECT_TRUE(dlg.FindWindow(Dlg::IDC_FILE_LABEL)->GetFont().GetWeight() == wxFONTWEIGHT_BOLD);
}

TEST_F(ZDRDownloaderDlgTest, WindowCarriesTheIconAtEveryThemeSize)
{
    const wxIconBundle& icons = Make().GetIcons();
    for (int size : {32, 48, 64, 128, 256}) {
        const wxIcon icon = icons.GetIconOfExactSize(wxSize(size, size));
        EXPECT_TRUE(icon.IsOk()) << size;
    }
}

TEST_F(ZDRDownloaderDlgTest, BackgroundIsTheFourFramePictures)
{
    Dlg& dlg = Make();
    wxBitmap bitmap(748, 437, 24);
    {
        wxMemoryDC dc(bitmap);
        dlg.DrawSkinBackground(dc, wxRect(0, 0, 748, 437));
        dc.SelectObject(wxNullBitmap);
    }
    const wxImage drawn = bitmap.ConvertToImage();
    struct Frame {
        int id;
        wxPoint origin;
    };
    const Frame frames[] = {{IDB_FRAME_TOP, {0, 0}}, {IDB_FRAME_BOTTOM, {0, 416}}, {IDB_FRAME_LEFT, {0, 20}},
                            {IDB_FRAME_RIGHT, {363, 20}}};
    for (const Frame& frame : frames) {
        const wxImage picture = CSkinImages::Load(frame.id).ConvertToImage();
        // Points where each picture is the one on top.
        for (const wxPoint& at : {wxPoint(picture.GetWidth() / 2, picture.GetHeight() / 2),
                                  wxPoint(picture.GetWidth() - 1, 0)}) {
            EXPECT_EQ(PixelAt(drawn, frame.origin.x + at.x, frame.origin.y + at.y), PixelAt(picture, at.x, at.y))
                << frame.id << " at " << at.x << "," << at.y;
        }
    }
    // A part of the background alone, as a transparent control asks for it.
    wxBitmap part(60, 22, 24);
    {
        wxMemoryDC dc(part);
        dlg.DrawSkinBackground(dc, wxRect(662, 352, 60, 22));
        dc.SelectObject(wxNullBitmap);
    }
    EXPECT_EQ(PixelAt(part.ConvertToImage(), 10, 10), PixelAt(drawn, 672, 362));
}

TEST_F(ZDRDownloaderDlgTest, ServiceEventsReachTheWindowThroughItsEventWindow)
{
    Dlg& dlg = Make();
    Init();
    EXPECT_EQ(dlg.GetTitle(), "VX2 Downloader");
    PostFromServiceThread(DL_EVENT_FETCH_DONE, 0);
    ASSERT_TRUE(RunUntil([&] { return dlg.Logic().GetStage() == CDownloaderDlgLogic::Stage::CheckingSizes; }));
    PostFromServiceThread(DL_EVENT_SIZE_CHECK_DONE, 0);
    ASSERT_TRUE(RunUntil([&] { return dlg.FindWindow(Dlg::IDC_TOTAL)->GetLabel() == "2.00 KB"; }));
    EXPECT_EQ(dlg.FindWindow(Dlg::IDC_FILE_LABEL)->GetLabel(), "a.bin [1/2]");
    EXPECT_EQ(dlg.FindWindow(Dlg::IDC_FOLDER)->GetLabel(), "/home/player/tollan/VX2/");
    EXPECT_EQ(dlg.FindWindow(Dlg::IDC_STATUS)->GetLabel(), "0.0 Bytes");
}

TEST_F(ZDRDownloaderDlgTest, ButtonsFollowTheStages)
{
    Dlg& dlg = Make();
    Init();
    dlg.Logic().OnDlEvent(DL_EVENT_FETCH_DONE, 0);
    dlg.Logic().OnDlEvent(DL_EVENT_SIZE_CHECK_DONE, 0);
    auto shown = [&](int id) { return dlg.FindWindow(id)->IsShown(); };

    Click(Dlg::IDC_START);
    ASSERT_EQ(dlg.Logic().Job(), 7);
    EXPECT_TRUE(shown(Dlg::IDC_START));
    EXPECT_FALSE(shown(Dlg::IDC_BROWSE));
    EXPECT_FALSE(shown(Dlg::IDC_INSTALL));

    service.progress.percent = 50;
    service.progress.filePercent = 100;
    dlg.Logic().OnDlEvent(DL_EVENT_JOB_PROGRESS, 7);
    EXPECT_EQ(static_cast<CProgressST*>(dlg.FindWindow(Dlg::IDC_JOB_PROGRESS))->GetPos(), 50);
    EXPECT_EQ(static_cast<CProgressST*>(dlg.FindWindow(Dlg::IDC_FILE_PROGRESS))->GetPos(), 100);

    const std::string installer = "/home/player/tollan/VX2/ZDRSetup.exe";
    service.fileDone.push_back(kBase + "ZDRSetup.exe," + installer);
    dlg.Logic().OnDlEvent(DL_EVENT_FILE_DONE, 7);
    shell.files.insert(installer);
    dlg.Logic().OnDlEvent(DL_EVENT_JOB_COMPLETE, 7);
    EXPECT_FALSE(shown(Dlg::IDC_START));
    EXPECT_FALSE(shown(Dlg::IDC_BROWSE));
    EXPECT_TRUE(shown(Dlg::IDC_INSTALL));
    EXPECT_EQ(dlg.FindWindow(Dlg::IDC_STATUS)->GetForegroundColour(), wxColour(0xFF, 0xFF, 0x00));

    Click(Dlg::IDC_INSTALL);
    EXPECT_FALSE(shown(Dlg::IDC_INSTALL));
    EXPECT_EQ(dlg.FindWindow(Dlg::IDC_STATUS)->GetSize(), wxSize(270, 42));
    EXPECT_EQ(dlg.FindWindow(Dlg::IDC_STATUS)->GetLabel(), wxString::FromUTF8("檢查下載的文件後執行安裝。"));
    // The installer runs from the loop, after the text is on screen; then the window ends.
    ASSERT_TRUE(RunUntil([&] { return dlg.EndRequested(); }));
    EXPECT_EQ(shell.started, (std::vector<std::string>{installer}));
}

TEST_F(ZDRDownloaderDlgTest, EscWithoutAJobEndsTheModalWindow)
{
    Dlg& dlg = Make();
    dlg.CallAfter([&] {
        wxKeyEvent esc(wxEVT_CHAR_HOOK);
        esc.m_keyCode = WXK_ESCAPE;
        esc.SetEventObject(&dlg);
        dlg.ProcessWindowEvent(esc);
    });
    EXPECT_EQ(dlg.ShowModal(), wxID_OK);
    // Showing ran the set-up: the service was started and the list asked for.
    EXPECT_TRUE(service.Called("FetchData http://portal.test/list.txt"));
}

TEST_F(ZDRDownloaderDlgTest, DestroyingTheWindowEndsTheService)
{
    Make();
    Init();
    dialog.reset();
    ASSERT_FALSE(service.calls.empty());
    EXPECT_EQ(service.calls.back(), "Finalize");
}

TEST_F(ZDRDownloaderDlgTest, ActivateRestoresAMinimisedWindow)
{
    Dlg& dlg = Make();
    dlg.Show();
    dlg.Iconize(true);
    dlg.Activate();
    EXPECT_FALSE(dlg.IsIconized());
}

TEST_F(ZDRDownloaderDlgTest, FolderChooserStatusFollowsTheSelection)
{
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "zdr-chooser-test";
    std::filesystem::create_directories(root / "first");
    std::filesystem::create_directories(root / "second");
    std::vector<std::string> asked;
    CFolderChooserDlg chooser(m_pFrame, "VX2", wxString::FromUTF8("至少需要 2.00 KB 容量。\n"),
                              (root / "first").string(), [&](const std::string& folder) {
                                  asked.push_back(folder);
                                  return "free under " + folder;
                              });
    EXPECT_EQ(chooser.FindWindow(CFolderChooserDlg::IDC_TITLE)->GetLabel(),
              wxString::FromUTF8("至少需要 2.00 KB 容量。"));
    EXPECT_EQ(chooser.StatusShown(), "free under " + (root / "first").string() + "/");
    chooser.SetPath((root / "second").string());
    EXPECT_EQ(chooser.StatusShown(), "free under " + (root / "second").string() + "/");
    EXPECT_EQ(chooser.GetPath(), (root / "second").string());
    std::filesystem::remove_all(root);
}

} // namespace
