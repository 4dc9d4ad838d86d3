#include "app/CGraphCtrl.h"

#include "app/CSkinImages.h"
#include "app/ResourceIds.h"

#include <wx/dcbuffer.h>

const wxColour CGraphCtrl::kBarColour(0xD5, 0xBA, 0x11);

CGraphCtrl::CGraphCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : m_background(CSkinImages::Load(IDB_GRAPH_BACKGROUND))
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(parent, id, pos, size, wxBORDER_NONE);
    Bind(wxEVT_PAINT, &CGraphCtrl::OnPaint, this);
}

void CGraphCtrl::SetBackgroundBitmap(const wxBitmap& background)
{
    m_background = background;
    Refresh();
}

void CGraphCtrl::Redraw()
{
    Refresh();
    Update();
}

wxSize CGraphCtrl::DoGetBestClientSize() const
{
    return m_background.IsOk() ? m_background.GetSize() : wxSize(342, 69);
}

void CGraphCtrl::Render(wxDC& dc)
{
    const wxSize size = GetClientSize();
    if (m_background.IsOk()) {
        dc.DrawBitmap(m_background, 0, 0);
    } else {
        dc.SetBackground(wxBrush(GetBackgroundColour()));
        dc.Clear();
    }
    wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
    wxDCBrushChanger brush(dc, wxBrush(kBarColour));
    for (int i = 0; i < CGraphSamples::kCount; ++i) {
        int height = m_samples.BarHeight(i, size.y);
        if (height > 0) {
            dc.DrawRectangle(CGraphSamples::BarLeft(i, size.x), size.y - height, CGraphSamples::kBarWidth, height);
        }
    }
}

void CGraphCtrl::OnPaint(wxPaintEvent&)
{
    wxBufferedPaintDC dc(this);
    Render(dc);
}
