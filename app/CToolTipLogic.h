#pragma once
// When a tooltip shows and hides: 500 ms after the cursor comes to rest on a
// tool, for at most 5 seconds, hidden by a click or a key. Where it goes:
// below the cursor, kept on the screen. No window and no clock of its own:
// the host (IToolTipHost) supplies both, so the rules run in tests.

#include "app/IToolTipHost.h"

class CToolTipLogic {
public:
    static constexpr int kShowTimer = 1;
    static constexpr int kHideTimer = 2;
    static constexpr int kShowDelayMs = 500;
    static constexpr int kHideCheckMs = 500;
    static constexpr int kLongestDisplayMs = 5000;
    static constexpr int kCursorOffsetX = 0;
    static constexpr int kCursorOffsetY = 20;

    struct Rect {
        int x, y, width, height;
    };

    explicit CToolTipLogic(IToolTipHost& host) : m_host(host) {}

    // The mouse moved over tool (or -1); cursorInTip: it is over the tip itself.
    void OnMouseMove(int tool, bool cursorInTip);
    // A left-button press; a press on the tip itself leaves it.
    void OnLeftButtonDown(bool cursorInTip);
    // Any key, any other mouse button, a press on a window frame.
    void Dismiss();
    void OnTimer(int timer);
    // The tip window is going away.
    void Stop();

    int CurrentTool() const { return m_nCurrentTool; }
    bool IsShown() const { return m_bShown; }

    // The tip's rectangle for a tip of the given size shown for a cursor at
    // (cursorX, cursorY): below the cursor, moved left to stay inside the
    // screen, never left of it, and above the tool's window (whose top is
    // toolTop) when it would pass the bottom.
    static Rect Place(int cursorX, int cursorY, int width, int height, const Rect& screen, int toolTop);

private:
    void Hide();

    IToolTipHost& m_host;
    int m_nCurrentTool = -1;
    bool m_bShown = false;
    int m_nElapsedMs = 0;
};
