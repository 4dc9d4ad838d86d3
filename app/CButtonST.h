#pragma once
// A button drawn from pictures: one for hovered or held ("in"), one for
// normal ("out") and one for disabled, each keyed on a transparent colour.
// In check-box mode the "in" picture shows while checked; a click toggles
// the check state before the parent hears of the click (wxEVT_BUTTON,
// GetInt() = the new check state).

#include "app/CBackgroundCapture.h"
#include "app/CButtonBehaviour.h"

#include <wx/bitmap.h>
#include <wx/control.h>

class CButtonST : public wxControl {
public:
    enum Kind { PushButton, CheckBox };
    // SetBitmaps results.
    enum { BitmapsOk = 0, BitmapsNoSize = 1, BitmapsNoMask = 2 };

    CButtonST(wxWindow* parent, wxWindowID id, const wxString& caption, const wxPoint& pos = wxDefaultPosition,
              const wxSize& size = wxDefaultSize, Kind kind = PushButton);

    // Pictures by number (ResourceIds.h); disabled may be omitted.
    int SetBitmaps(int in, const wxColour& inTransparent, int out, const wxColour& outTransparent, int disabled,
                   const wxColour& disabledTransparent);
    int SetBitmaps(int in, const wxColour& inTransparent, int out, const wxColour& outTransparent);
    // The same with pictures at hand; an invalid out or disabled bitmap means none.
    int SetBitmaps(const wxBitmap& in, const wxColour& inTransparent, const wxBitmap& out,
                   const wxColour& outTransparent, const wxBitmap& disabled, const wxColour& disabledTransparent);

    void DrawBorder(bool enable, bool repaint);
    // From now on the parent's background shows around and through the pictures.
    void DrawTransparent(bool repaint);
    // The window takes the size of the "in" picture, which is drawn at (0, 0).
    void SizeToContent();
    void SetCheck(int state, bool repaint = true);
    int GetCheck() const { return m_behaviour.GetCheck(); }
    bool IsMouseOver() const { return m_behaviour.IsMouseOver(); }

    // Draws the whole button as it looks now into dc at (0, 0).
    void Render(wxDC& dc);

    bool Enable(bool enable = true) override;
    bool AcceptsFocus() const override { return true; }

protected:
    wxSize DoGetBestClientSize() const override;

private:
    struct ImageSlot {
        wxBitmap bitmap; // carries its mask
        wxColour transparent;
    };

    void ResetColours();
    void PerformClick();
    void OnPaint(wxPaintEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnKillFocus(wxFocusEvent& event);
    void OnKeyUp(wxKeyEvent& event);
    void OnSysColourChanged(wxSysColourChangedEvent& event);
    void CancelHover();

    CButtonBehaviour m_behaviour;
    bool m_bShowDisabledImage = true;
    wxPoint m_ptImageOrigin{3, 3};
    bool m_bDrawTransparent = false;
    bool m_bDrawBorder = true;
    wxColour m_crInBack, m_crInFore, m_crOutBack, m_crOutFore, m_crFocusBack, m_crFocusFore;
    CBackgroundCapture m_background;
    ImageSlot m_images[3];
};
