// The whole GUI program on the engine path, on a private X display: its
// service installs the real engine from a signed update site that a real
// nginx serves with the client's files. A download closed midway is
// started again, and the resume prompt is answered by clicking.

#include "EngineProcess.h"
#include "EngineSite.h"
#include "GuiSession.h"
#include "MainWindow.h"
#include "NginxProcess.h"
#include "TestFiles.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

using namespace MainWindow;

// The resume prompt is 154 x 80 dialog units; its confirm button sits at
// 18, 53 and is 50 x 14 of them.
constexpr double kConfirmX = (18 + 25) / 154.0, kConfirmY = (53 + 7) / 80.0;

class EnginePathE2ETest : public testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ZDR_NO_ENGINE");
        char pattern[] = "/tmp/zdr-gui-engine-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_work = pattern;
        fs::permissions(m_work, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        fs::create_directories(m_work / "home");
        fs::create_directories(m_work / "run");
        fs::permissions(m_work / "run", fs::perms::owner_all);
        WriteFile((m_work / "online").string(), "");
        m_artifacts = fs::path(ZDR_E2E_ARTIFACTS) / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_artifacts);
        fs::create_directories(m_artifacts);
        m_engineExe = EngineSite::InstalledEngine((m_work / "home/.local/share").string());
        m_enginePort = EngineProcess::FreePort();
        ASSERT_TRUE(m_session.StartDisplay()) << "Xvfb did not start";
    }

    void TearDown() override
    {
        EngineSite::StopEngines(m_engineExe);
        m_nginx.Stop();
        std::error_code ignored;
        fs::remove_all(m_work, ignored);
    }

    // nginx serving the update site, the file list at the portal's path and
    // the files it names (slowly, so that the download can be closed midway).
    void StartServers(const std::map<std::string, size_t>& files)
    {
        m_nginx.AddServerConfig("    location /files/ { limit_rate 400k; }\n");
        ASSERT_TRUE(m_nginx.Start((m_work / "nginx").string()));
        ASSERT_TRUE(EngineSite::Publish(m_nginx, (m_work / "release").string()));
        std::string list;
        for (const auto& [name, size] : files) {
            m_contents[name] = RandomBytes(size, static_cast<unsigned>(size + name.size()));
            WriteFile(m_nginx.Root() + "/files/" + name, m_contents[name]);
            list += m_nginx.Url("/files/" + name) + "\r\n";
        }
        WriteFile(m_nginx.Root() + "/download/vx2/zdrdownload/filelist.txt", list);
        EngineSite::AllowNginx(m_nginx.Root());
    }

    pid_t StartProgram(const std::string& log)
    {
        const std::string host = "127.0.0.1:" + std::to_string(m_nginx.Port());
        return m_session.Launch(ZDR_DOWNLOADER_PATH,
                                {{"HOME", (m_work / "home").string()},
                                 {"XDG_CONFIG_HOME", (m_work / "home/.config").string()},
                                 {"XDG_DATA_HOME", (m_work / "home/.local/share").string()},
                                 {"XDG_STATE_HOME", (m_work / "home/.local/state").string()},
                                 {"XDG_RUNTIME_DIR", (m_work / "run").string()},
                                 {"ZDR_PORTAL_HOST", host},
                                 {"ZDR_UPDATE_HOST", host},
                                 {"ZDR_ENGINE_PORT", std::to_string(m_enginePort)},
                                 {"ZDR_ENGINE_CONNECTIVITY_FILE", (m_work / "online").string()}},
                                (m_artifacts / log).string());
    }

    std::string WaitUntilReady(pid_t program) { return MainWindow::WaitUntilReady(m_session, program); }
    std::string WaitForWindow(pid_t program, const std::string& titlePattern, int seconds)
    {
        return m_session.WaitForWindow(program, titlePattern, seconds);
    }

    // The title of a window in UTF-8 (xdotool converts titles through the
    // locale, and in the C locale a title in Hangul comes out empty).
    std::string Title(const std::string& window) const
    {
        std::string title = m_session.Run("LC_ALL=C.UTF-8 xdotool getwindowname " + window);
        if (!title.empty() && title.back() == '\n') title.pop_back();
        return title;
    }
    // The visible window whose title begins with prefix; empty when none
    // came within the time limit. The display is the test's own, so every
    // window on it is the program's (xdotool does not find the prompt by
    // the program's process id).
    std::string WaitForTitle(const std::string& prefix, int seconds)
    {
        std::string found;
        GuiSession::WaitFor(
            [&] {
                // Name, class or class name match.
                std::istringstream ids(m_session.Run("xdotool search --onlyvisible ."));
                for (std::string id; ids >> id;)
                    if (Title(id).rfind(prefix, 0) == 0) found = id;
                return !found.empty();
            },
            seconds);
        return found;
    }
    // Every window on the display with its title and place, for a
    // failure's message.
    std::string WindowNames() const
    {
        std::string names;
        std::istringstream ids(m_session.Run("xdotool search ."));
        for (std::string id; ids >> id;) names += id + " \"" + Title(id) + "\" " + m_session.Run("xdotool getwindowgeometry " + id) + " ";
        return names;
    }

    std::string Downloads() const { return (m_work / "home/tollan/VX2/").string(); }

    GuiSession m_session;
    NginxProcess m_nginx;
    fs::path m_work;
    fs::path m_artifacts;
    std::string m_engineExe;
    uint16_t m_enginePort = 0;
    std::map<std::string, std::string> m_contents;
};

TEST_F(EnginePathE2ETest, ADownloadClosedMidwayIsResumedThroughTheClickedPrompt)
{
    const size_t size = 3 << 20;
    StartServers({{"big.bin", size}, {"ZDRSetup.exe", 20000}});

    // First run: the engine is installed, the download starts and is closed
    // once the engine has saved its part (Close, then Yes).
    const pid_t first = StartProgram("first.log");
    ASSERT_GT(first, 0);
    std::string window = WaitUntilReady(first);
    ASSERT_FALSE(window.empty());
    const Shot ready = m_session.Screenshot(window, (m_artifacts / "1-ready.png").string());
    ASSERT_TRUE(ready.Ok());
    m_session.Click(window, kStartX, kStartY);
    ASSERT_TRUE(GuiSession::WaitFor([&] { return fs::exists(Downloads() + "big.bin.zdrctl"); }, 90))
        << "the engine saved no part of big.bin";
    // About a megabyte in.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    m_session.Screenshot(window, (m_artifacts / "2-first-run.png").string());
    m_session.Click(window, kCloseX, kCloseY);
    const std::string question = WaitForWindow(first, "^VX2$", 30);
    ASSERT_FALSE(question.empty()) << "Close during the download asked nothing";
    const auto [boxWidth, boxHeight] = m_session.Size(question);
    // "Yes" is the right one of the box's two buttons.
    m_session.Click(question, boxWidth * 3 / 4, boxHeight - 18);
    int status = -1;
    ASSERT_TRUE(m_session.WaitForExit(first, 30, &status)) << "Yes did not end the program";
    ASSERT_TRUE(fs::exists(Downloads() + "big.bin.zdrctl"));
    ASSERT_FALSE(fs::exists(Downloads() + "big.bin"));
    ASSERT_TRUE(GuiSession::WaitFor([&] { return EngineSite::BytesSent(m_nginx, "/files/big.bin") > 300000; }, 15))
        << m_nginx.AccessLog();
    const long long firstBytes = EngineSite::BytesSent(m_nginx, "/files/big.bin");
    EXPECT_GE(EngineSite::EngineFetches(m_nginx, "/files/big.bin"), 1u) << "not fetched by the engine";

    // Second run: Start, and the engine's question comes as the prompt.
    const pid_t second = StartProgram("second.log");
    ASSERT_GT(second, 0);
    window = WaitUntilReady(second);
    ASSERT_FALSE(window.empty());
    m_session.Click(window, kStartX, kStartY);
    const std::string prompt = WaitForTitle("이어받기", 90);
    if (prompt.empty()) m_session.Screenshot(window, (m_artifacts / "3-no-prompt.png").string());
    ASSERT_FALSE(prompt.empty()) << "the resume prompt did not come; windows: " << WindowNames() << "\n"
                                 << ReadFile((m_work / "home/.local/state/zdr-downloader/service.log").string());
    m_session.Screenshot(prompt, (m_artifacts / "3-resume-prompt.png").string());
    const auto [promptWidth, promptHeight] = m_session.Size(prompt);
    m_session.Click(prompt, static_cast<int>(promptWidth * kConfirmX), static_cast<int>(promptHeight * kConfirmY));
    ASSERT_TRUE(GuiSession::WaitFor([&] { return WaitForTitle("이어받기", 0).empty(); }, 30))
        << "the prompt stayed after the click";

    Shot completed;
    ASSERT_TRUE(GuiSession::WaitFor(
        [&] {
            completed = m_session.Screenshot(window);
            return completed.Ok() &&
                   completed.Differing(ready, kInstallButton.x, kInstallButton.y, kInstallButton.w, kInstallButton.h) > 500;
        },
        120))
        << "the install button did not appear";
    m_session.Screenshot(window, (m_artifacts / "4-completed.png").string());
    EXPECT_GT(completed.Differing(ready, kStartButton.x, kStartButton.y, kStartButton.w, kStartButton.h), 100)
        << "the start button still shows";
    for (const auto& [name, bytes] : m_contents) EXPECT_TRUE(ReadFile(Downloads() + name) == bytes) << name;
    EXPECT_FALSE(fs::exists(Downloads() + "big.bin.zdrctl"));
    // The second run fetched only the rest, and only through the engine.
    const long long secondBytes = EngineSite::BytesSent(m_nginx, "/files/big.bin") - firstBytes;
    EXPECT_LT(secondBytes, static_cast<long long>(size) - 300000) << "first run " << firstBytes;
    EXPECT_NE(ReadFile((m_work / "home/.local/state/zdr-downloader/service.log").string())
                  .find("[MeshpullLib] Patch Success"),
              std::string::npos);
    EXPECT_EQ(ReadFile((m_work / "home/.local/state/zdr-downloader/service.log").string())
                  .find("CPlatFormDownloader Begin"),
              std::string::npos);
}

} // namespace
