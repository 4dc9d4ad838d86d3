#include "AppTestDisplay.h"
#include "PrivateXvfb.h"

#include <wx/app.h>
#include <wx/init.h>

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t g_xvfb = 0;
bool g_wxStarted = false;

// A failed wx check is a failed test, not a message box nobody closes.
void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg)
{
    ADD_FAILURE_AT(file.utf8_str(), line) << func << ": " << cond << " " << msg;
}

bool StartXvfb()
{
    std::string display;
    g_xvfb = StartPrivateXvfb(&display);
    if (display.empty()) return false;
    setenv("DISPLAY", display.c_str(), 1);
    return true;
}

class DisplayEnvironment : public testing::Environment {
public:
    void TearDown() override
    {
        if (g_wxStarted) wxEntryCleanup();
        g_wxStarted = false;
        if (g_xvfb > 0) {
            kill(g_xvfb, SIGTERM);
            waitpid(g_xvfb, nullptr, 0);
            g_xvfb = 0;
        }
    }
};

[[maybe_unused]] testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new DisplayEnvironment);

} // namespace

void AppDisplayTest::SetUpTestSuite()
{
    if (g_wxStarted) return;
    ASSERT_TRUE(StartXvfb()) << "Xvfb did not start";
    static char name[] = "zdr_app_tests";
    static char* argv[] = {name, nullptr};
    int argc = 1;
    wxSetAssertHandler(FailOnAssert);
    wxApp::SetInstance(new wxApp);
    ASSERT_TRUE(wxEntryStart(argc, argv)) << "wxWidgets could not open the display";
    g_wxStarted = true;
}

void AppDisplayTest::SetUp()
{
    ASSERT_TRUE(g_wxStarted);
    m_pFrame = new wxFrame(nullptr, wxID_ANY, "test", wxPoint(0, 0), wxSize(800, 600));
    // Shown, so that the controls are realised (capturing the mouse needs that).
    m_pFrame->Show();
}

void AppDisplayTest::TearDown()
{
    delete m_pFrame;
}

wxBitmap SolidBitmap(int width, int height, const wxColour& colour, const wxColour& cornerKey)
{
    wxImage image(width, height);
    image.SetRGB(wxRect(0, 0, width, height), colour.Red(), colour.Green(), colour.Blue());
    if (cornerKey.IsOk()) image.SetRGB(0, 0, cornerKey.Red(), cornerKey.Green(), cornerKey.Blue());
    return wxBitmap(image, 24);
}
