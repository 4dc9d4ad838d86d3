#pragma once
// A text drawn straight onto the parent's background picture. Every paint
// puts the background back first, so a shorter text leaves nothing of a
// longer one behind.

#include "app/CBackgroundCapture.h"

#include <wx/control.h>

class CTransparentStatic2 : public wxControl {
public:
    CTransparentStatic2(wxWindow* parent, wxWindowID id, const wxString& text,
                        const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize);

    // Shows the new text at once.
    void SetLabel(const wxString& text) override;

    // Draws the control as it looks now into dc at (0, 0).
    void Render(wxDC& dc);

protected:
    wxSize DoGetBestClientSize() const override;

private:
    void OnPaint(wxPaintEvent& event);

    CBackgroundCapture m_background;
};
