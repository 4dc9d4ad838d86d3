#pragma once
// A progress bar drawn from two pictures: a background and a bar picture
// tiled over the filled part, with the percentage centred over both.

#include "app/CProgressState.h"

#include <wx/bitmap.h>
#include <wx/control.h>

class CProgressST : public wxControl {
public:
    CProgressST(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxDefaultSize);

    // Pictures by number (ResourceIds.h); background 0 draws a plain grey
    // well. False when a picture could not be loaded.
    bool SetBitmaps(int barId, int backgroundId, bool repaint);
    // The same with pictures at hand; an invalid background means none.
    bool SetBitmaps(const wxBitmap& bar, const wxBitmap& background, bool repaint);
    void SetRange(int lower, int upper);
    void SetPos(int position);
    int GetPos() const { return m_state.Pos(); }
    void SetTextFormat(const wxString& format, CProgressState::TextMode mode);
    // The font stays the caller's; null draws with the window's own font.
    void SetTextFont(const wxFont* font);
    void SetTextColours(const wxColour& text, const wxColour& overBar);
    const CProgressState& State() const { return m_state; }

    // Draws the whole bar as it looks now into dc at (0, 0).
    void Render(wxDC& dc);

protected:
    wxSize DoGetBestClientSize() const override { return wxSize(100, 18); }

private:
    void OnPaint(wxPaintEvent& event);

    CProgressState m_state;
    wxBitmap m_bar;
    wxBitmap m_background;
    wxColour m_crText{0xEF, 0xEF, 0xEF};
    wxColour m_crTextOverBar{0xEF, 0xEF, 0xEF};
    const wxFont* m_pFont = nullptr;
};
