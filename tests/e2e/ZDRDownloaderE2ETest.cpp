// The whole program on a private X display against the demo portal: the
// user's clicks at the window's fixed places, screenshots of each stage
// (kept in the build folder), the downloaded files and the installer's run.

#include "DemoPortal.h"
#include "GuiSession.h"
#include "MainWindow.h"

#include "service/DlApi.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

using namespace MainWindow;

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class ZDRDownloaderE2ETest : public testing::Test {
protected:
    void SetUp() override
    {
        // The window (and the service of this process) inherit it: these tests
        // are about the plain path.
        setenv("ZDR_NO_ENGINE", "1", 1);
        char pattern[] = "/tmp/zdr-gui-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_work = pattern;
        fs::create_directories(m_work / "home");
        fs::create_directories(m_work / "run");
        fs::permissions(m_work / "run", fs::perms::owner_all);
        m_artifacts = fs::path(ZDR_E2E_ARTIFACTS) / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_artifacts);
        fs::create_directories(m_artifacts);
        ASSERT_TRUE(m_session.StartDisplay()) << "Xvfb did not start";
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_work, ignored);
    }

    void StartPortal(const char* rate = nullptr)
    {
        if (rate) setenv("ZDR_DEMO_RATE", rate, 1);
        const bool started = m_portal.Start();
        unsetenv("ZDR_DEMO_RATE");
        ASSERT_TRUE(started) << "the demo portal did not start";
    }

    pid_t StartProgram(const std::string& log)
    {
        return m_session.Launch(ZDR_DOWNLOADER_PATH,
                                {{"HOME", (m_work / "home").string()},
                                 {"XDG_CONFIG_HOME", (m_work / "home/.config").string()},
                                 {"XDG_DATA_HOME", (m_work / "home/.local/share").string()},
                                 {"XDG_STATE_HOME", (m_work / "home/.local/state").string()},
                                 {"XDG_RUNTIME_DIR", (m_work / "run").string()},
                                 {"ZDR_PORTAL_HOST", m_portal.Host()}},
                                (m_artifacts / log).string());
    }

    std::string WaitUntilReady(pid_t program) { return MainWindow::WaitUntilReady(m_session, program); }
    std::string WaitForWindow(pid_t program, const std::string& titlePattern, int seconds)
    {
        return m_session.WaitForWindow(program, titlePattern, seconds);
    }

    GuiSession m_session;
    DemoPortal m_portal;
    fs::path m_work;
    fs::path m_artifacts;
};

// Whether the service runs a download job: DlStartJob answers DL_OK.
bool ServiceRunsJobs(const std::string& fileUrl, const fs::path& folder)
{
    if (DlInitialize(nullptr, nullptr, nullptr) != DL_OK) {
        DlFinalize();
        return false;
    }
    int job = 0;
    bool runs = false;
    if (DlCreateJob(&job, nullptr, "quillet_stonereach2") == DL_OK) {
        const std::string target = folder.string() + "/";
        DlAddJobFile(job, fileUrl.c_str(), target.c_str(), nullptr, 0xFFFFFFFFu, -1, 1);
        runs = DlStartJob(job, 0) == DL_OK;
        DlStopJob(job);
        DlRemoveJob(job);
    }
    DlFinalize();
    return runs;
}

TEST_F(ZDRDownloaderE2ETest, DownloadsTheClientAndRunsItsInstaller)
{
    // Slow enough to see the download in progress and to close the window
    // during it on a busy machine (about 15 MiB at 1 MiB/s).
    StartPortal("1m");
    const std::string client = "/download/vx2/zdrdownload/client/";
    ASSERT_TRUE(ServiceRunsJobs(m_portal.Url(client + "data1.bin"), m_work / "probe"))
        << "the service does not run download jobs";

    // The installer the list names: a harmless script that leaves a marker.
    const fs::path marker = m_work / "installed";
    const fs::path installer = fs::path(m_portal.Folder()) / ("www" + client + "ZDRSetup.exe");
    std::ofstream(installer) << "#!/bin/sh\necho installed > '" << marker.string() << "'\n";
    fs::permissions(installer, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                   fs::perms::others_read);

    const pid_t program = StartProgram("zdr-downloader.log");
    ASSERT_GT(program, 0);
    const std::string window = WaitUntilReady(program);
    ASSERT_FALSE(window.empty());
    const Shot ready = m_session.Screenshot(window, (m_artifacts / "1-ready.png").string());
    ASSERT_TRUE(ready.Ok());
    EXPECT_EQ(ready.Varied(kJobBar.x, kJobBar.y, kJobBar.w, kJobBar.h) < kJobBar.w * kJobBar.h / 4, true)
        << "the job's bar is not empty before the start";

    m_session.Click(window, kStartX, kStartY);
    Shot downloading;
    ASSERT_TRUE(GuiSession::WaitFor(
        [&] {
            downloading = m_session.Screenshot(window);
            return downloading.Ok() &&
                   downloading.Differing(ready, kStartButton.x, kStartButton.y, kStartButton.w, kStartButton.h) >
                       100;
        },
        30))
        << "the start button did not turn into the stop button";
    m_session.Screenshot(window, (m_artifacts / "2-downloading.png").string());

    // Midway: the job's bar partly filled, the received bytes no longer the
    // "0.0 Bytes" of the ready window.
    Shot midway;
    const int barEnd = kJobBar.x + kJobBar.w - 12;
    EXPECT_TRUE(GuiSession::WaitFor(
        [&] {
            midway = m_session.Screenshot(window);
            return midway.Ok() && midway.Differing(ready, kJobBar.x, kJobBar.y, kJobBar.w, kJobBar.h) > kJobBar.h &&
                   midway.Differing(ready, barEnd, kJobBar.y, 12, kJobBar.h) == 0 &&
                   midway.Differing(ready, kReceivedText.x, kReceivedText.y, kReceivedText.w, kReceivedText.h) > 10;
        },
        60))
        << "no picture showed the job's bar partly filled with bytes received";
    m_session.Screenshot(window, (m_artifacts / "3-midway.png").string());

    // Close while downloading asks first; "No" keeps the download going.
    m_session.Click(window, kCloseX, kCloseY);
    const std::string question = WaitForWindow(program, "^VX2$", 30);
    ASSERT_FALSE(question.empty()) << "Close during the download asked nothing";
    m_session.Screenshot(question, (m_artifacts / "4-close-question.png").string());
    const auto [boxWidth, boxHeight] = m_session.Size(question);
    // The box's two buttons share its bottom row: "No" on the left, "Yes" on the right.
    m_session.Click(question, boxWidth / 4, boxHeight - 18);
    ASSERT_TRUE(GuiSession::WaitFor([&] { return m_session.Windows(program, "^VX2$").empty(); }, 30))
        << "the question stayed after the answer";
    EXPECT_TRUE(GuiSession::Running(program)) << "answering No ended the program";
    const Shot afterNo = m_session.Screenshot(window);
    ASSERT_TRUE(afterNo.Ok());
    EXPECT_GT(afterNo.Differing(ready, kStartButton.x, kStartButton.y, kStartButton.w, kStartButton.h), 100)
        << "the download stopped: the start button is back";

    Shot completed;
    ASSERT_TRUE(GuiSession::WaitFor(
        [&] {
            completed = m_session.Screenshot(window);
            return completed.Ok() && completed.Differing(ready, kInstallButton.x, kInstallButton.y,
                                                         kInstallButton.w, kInstallButton.h) > 500;
        },
        120))
        << "the install button did not appear";
    m_session.Screenshot(window, (m_artifacts / "5-completed.png").string());
    // The job's bar is filled now.
    EXPECT_GT(completed.Differing(ready, kJobBar.x, kJobBar.y, kJobBar.w, kJobBar.h), kJobBar.w * kJobBar.h / 2);

    const fs::path folder = m_work / "home/tollan/VX2";
    for (const char* name : {"data1.bin", "data2.bin", "data3.bin", "data4.bin", "ZDRSetup.exe"}) {
        EXPECT_EQ(ReadAll(folder / name), m_portal.Served(client + name)) << name;
    }

    m_session.Click(window, kInstallX, kInstallY);
    int status = -1;
    ASSERT_TRUE(m_session.WaitForExit(program, 60, &status)) << "the program did not end after the install";
    EXPECT_TRUE(GuiSession::WaitFor([&] { return fs::exists(marker); }, 30)) << "the installer did not run";
    EXPECT_EQ(ReadAll(marker), "installed\n");
}

TEST_F(ZDRDownloaderE2ETest, WindowIsTheOneTheMenuEntryNames)
{
    StartPortal();
    const pid_t program = StartProgram("zdr-downloader.log");
    ASSERT_GT(program, 0);
    const std::string window = WaitUntilReady(program);
    ASSERT_FALSE(window.empty());

    // The desktop groups the window under the menu entry whose
    // StartupWMClass names the window's WM_CLASS.
    const std::string entry = ReadAll(ZDR_DESKTOP_ENTRY);
    const size_t key = entry.find("\nStartupWMClass=");
    ASSERT_NE(key, std::string::npos) << entry;
    const size_t value = key + std::string("\nStartupWMClass=").size();
    const std::string wmClass = entry.substr(value, entry.find('\n', value) - value);
    const std::string shown = m_session.Run("xprop -id " + window + " WM_CLASS");
    EXPECT_EQ(shown.rfind("WM_CLASS(STRING) = \"" + wmClass + "\", ", 0), 0u) << shown;

    // The window hands the desktop its icon at the theme's sizes (GTK leaves
    // out those too large for the X property).
    const std::string icons = m_session.Run("xprop -id " + window + " _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)'");
    for (const char* size : {"32 x 32", "48 x 48", "64 x 64", "128 x 128"})
        EXPECT_NE(icons.find(std::string("Icon (") + size + ")"), std::string::npos) << size << " in " << icons;

    m_session.Click(window, kCloseX, kCloseY);
    int status = -1;
    ASSERT_TRUE(m_session.WaitForExit(program, 30, &status)) << "Close did not end the program";
}

TEST_F(ZDRDownloaderE2ETest, SecondStartSaysSoAndLeavesTheFirstRunning)
{
    StartPortal();
    const pid_t first = StartProgram("first.log");
    ASSERT_GT(first, 0);
    const std::string window = WaitUntilReady(first);
    ASSERT_FALSE(window.empty());

    const pid_t second = StartProgram("second.log");
    ASSERT_GT(second, 0);
    const std::string box = WaitForWindow(second, "^zdr-downloader$", 60);
    ASSERT_FALSE(box.empty()) << "the second start showed no message";
    const Shot message = m_session.Screenshot(box, (m_artifacts / "second-start.png").string());
    ASSERT_TRUE(message.Ok());
    // The message has no window of the downloader behind it.
    EXPECT_TRUE(m_session.Windows(second, "^VX2 Downloader$").empty());

    const auto [width, height] = m_session.Size(box);
    m_session.Click(box, width / 2, height - 18);
    int status = -1;
    ASSERT_TRUE(m_session.WaitForExit(second, 30, &status)) << "the second start did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(GuiSession::Running(first));
    EXPECT_FALSE(m_session.Windows(first, "^VX2 Downloader$").empty());

    // With no download running, Close ends the first without a question.
    m_session.Click(window, kCloseX, kCloseY);
    ASSERT_TRUE(m_session.WaitForExit(first, 30, &status)) << "Close did not end the program";
}

} // namespace
