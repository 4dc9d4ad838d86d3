#include "app/CTransparentStatic2.h"

#include <wx/dcbuffer.h>

CTransparentStatic2::CTransparentStatic2(wxWindow* parent, wxWindowID id, const wxString& text,
                                         const wxPoint& pos, const wxSize& size)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(parent, id, pos, size, wxBORDER_NONE);
    // The parent may choose another colour (the dialog's final status is yellow).
    SetForegroundColour(wxColour(0xEF, 0xEF, 0xEF));
    wxControl::SetLabel(text);
    Bind(wxEVT_PAINT, &CTransparentStatic2::OnPaint, this);
}

void CTransparentStatic2::SetLabel(const wxString& text)
{
    wxControl::SetLabel(text);
    Refresh();
    Update();
}

wxSize CTransparentStatic2::DoGetBestClientSize() const
{
    return GetTextExtent(GetLabel());
}

void CTransparentStatic2::Render(wxDC& dc)
{
    dc.DrawBitmap(m_background.Get(*this), 0, 0);
    wxDCFontChanger font(dc, GetFont());
    wxDCTextColourChanger colour(dc, GetForegroundColour());
    wxDCTextBgModeChanger transparent(dc, wxBRUSHSTYLE_TRANSPARENT);
    dc.DrawLabel(GetLabel(), wxRect(GetClientSize()), wxALIGN_LEFT | wxALIGN_TOP);
}

void CTransparentStatic2::OnPaint(wxPaintEvent&)
{
    wxBufferedPaintDC dc(this);
    Render(dc);
}
