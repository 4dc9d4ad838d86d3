#pragma once
// A tooltip window for chosen windows of a parent: shown 500 ms after the
// cursor comes to rest on a tool, 20 pixels below the cursor, for at most
// five seconds, hidden by a click or a key. The parent passes the mouse and
// key events it sees to RelayEvent (a wxEventFilter is the usual way); the
// timing rules are CToolTipLogic's.

#include "app/COXToolTipInfo.h"
#include "app/CToolTipLogic.h"
#include "app/IToolTipHost.h"

#include <wx/popupwin.h>
#include <wx/timer.h>

#include <functional>
#include <vector>

class COXToolTipCtrl : public wxPopupWindow, private IToolTipHost {
public:
    COXToolTipCtrl();
    ~COXToolTipCtrl() override;

    bool Create(wxWindow* parent);
    void SetMaxTipWidth(int width);
    // area: in window's client coordinates; empty for the whole window.
    void AddTool(wxWindow* window, const wxString& text, const wxRect& area = wxRect(), int id = 0);
    void RelayEvent(const wxEvent& event);

    const std::vector<COXToolTipInfo>& Tools() const { return m_tools; }
    // The tool under a screen point: its window must be shown, belong to the
    // parent and hold the point. -1 for none.
    int ToolAt(const wxPoint& screenPoint) const;

    // Lines of text no wider than maxWidth (0: no limit) as measured by
    // measure: split at line feeds, then between words, and inside a word
    // only when the word alone is too wide.
    static std::vector<wxString> WrapLines(const wxString& text, int maxWidth,
                                           const std::function<int(const wxString&)>& measure);

    // Draws the tip of tool into dc at (0, 0), in the size it takes.
    void Render(wxDC& dc, int tool);
    wxSize TipSize(int tool) const;

private:
    // IToolTipHost
    void StartTimer(int timer, int periodMs) override;
    void StopTimer(int timer) override;
    void ShowTip(int tool) override;
    void HideTip() override;
    int ToolUnderCursor() const override;
    bool CursorInTip() const override;

    void OnTimer(wxTimerEvent& event);
    void OnPaint(wxPaintEvent& event);
    std::vector<wxString> Lines(int tool) const;

    static constexpr int kMarginLeft = 3;
    static constexpr int kMarginTop = 5;
    static constexpr int kMarginRight = 3;
    static constexpr int kMarginBottom = 3;

    wxWindow* m_pParent = nullptr;
    std::vector<COXToolTipInfo> m_tools;
    int m_nDefaultMaxWidth = 0;
    int m_nShownTool = -1;
    CToolTipLogic m_logic;
    wxTimer m_showTimer;
    wxTimer m_hideTimer;
};
