#pragma once
// The program's main window as the whole-program tests see it: the fixed
// places of its buttons and texts (client pixels), and the wait for it to be
// ready.

#include "GuiSession.h"

#include <sys/types.h>

#include <string>

namespace MainWindow {

constexpr int kStartX = 384 + 55, kStartY = 391 + 12;
constexpr int kInstallX = 502 + 55, kInstallY = 391 + 12;
constexpr int kCloseX = 620 + 55, kCloseY = 391 + 12;
struct Area {
    int x, y, w, h;
};
constexpr Area kReceivedText{456, 59, 263, 14};
constexpr Area kTotalText{456, 90, 263, 14};
constexpr Area kJobBar{441 + 4, 312 + 2, 286 - 8, 18 - 4};
constexpr Area kInstallButton{502, 391, 110, 24};
constexpr Area kStartButton{384, 391, 110, 24};

// The program's main window once it shows the size check's total (a failed
// expectation after a minute without it).
inline std::string WaitUntilReady(GuiSession& session, pid_t program)
{
    std::string window;
    EXPECT_TRUE(GuiSession::WaitFor(
        [&] {
            const auto windows = session.Windows(program, "^VX2 Downloader$");
            if (windows.empty()) return false;
            window = windows.front();
            const Shot shot = session.Screenshot(window);
            return shot.Ok() && shot.Varied(kTotalText.x, kTotalText.y, kTotalText.w, kTotalText.h) > 20;
        },
        60))
        << "the window did not show the total size";
    return window;
}

} // namespace MainWindow
