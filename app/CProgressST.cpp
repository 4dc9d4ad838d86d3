#include "app/CProgressST.h"

#include "app/CSkinImages.h"

#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>

CProgressST::CProgressST(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(parent, id, pos, size, wxBORDER_NONE);
    Bind(wxEVT_PAINT, &CProgressST::OnPaint, this);
}

bool CProgressST::SetBitmaps(int barId, int backgroundId, bool repaint)
{
    return SetBitmaps(CSkinImages::Load(barId), backgroundId ? CSkinImages::Load(backgroundId) : wxBitmap(),
                      repaint) &&
           (backgroundId == 0 || m_background.IsOk());
}

bool CProgressST::SetBitmaps(const wxBitmap& bar, const wxBitmap& background, bool repaint)
{
    m_bar = bar;
    m_background = background;
    if (repaint) Refresh();
    return m_bar.IsOk();
}

void CProgressST::SetRange(int lower, int upper)
{
    m_state.SetRange(lower, upper);
    Refresh();
}

void CProgressST::SetPos(int position)
{
    m_state.SetPos(position);
    Refresh();
}

void CProgressST::SetTextFormat(const wxString& format, CProgressState::TextMode mode)
{
    m_state.SetTextFormat(format.utf8_string(), mode);
    Refresh();
}

void CProgressST::SetTextFont(const wxFont* font)
{
    m_pFont = font;
    Refresh();
}

void CProgressST::SetTextColours(const wxColour& text, const wxColour& overBar)
{
    m_crText = text;
    m_crTextOverBar = overBar;
    Refresh();
}

void CProgressST::Render(wxDC& dc)
{
    const wxSize size = GetClientSize();
    const int barWidth = std::max(size.x - 2, 0);
    const int barHeight = std::max(size.y - 2, 0);

    if (m_background.IsOk()) {
        dc.DrawBitmap(m_background, 0, 0);
    } else {
        // A plain well: darker along the top and left edges.
        wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
        wxDCBrushChanger brush(dc, wxBrush(wxColour(0xB3, 0xB3, 0xB3)));
        dc.DrawRectangle(0, 0, size.x, size.y);
        dc.SetBrush(wxBrush(wxColour(0xDC, 0xDC, 0xDC)));
        dc.DrawRectangle(1, 1, std::max(size.x - 2, 0), std::max(size.y - 2, 0));
    }

    const int fill = m_state.FillWidth(barWidth);
    if (m_bar.IsOk() && fill > 0 && barHeight > 0) {
        wxBitmap tiles(barWidth, barHeight, 24);
        {
            wxMemoryDC tileDc(tiles);
            for (int y = 0; y < barHeight; y += m_bar.GetHeight()) {
                for (int x = 0; x < barWidth; x += m_bar.GetWidth()) tileDc.DrawBitmap(m_bar, x, y);
            }
            tileDc.SelectObject(wxNullBitmap);
        }
        wxMemoryDC tileDc(tiles);
        const int copyHeight = m_background.IsOk() ? barHeight : barHeight - 1;
        dc.Blit(1, 1, fill, copyHeight, &tileDc, 0, 0);
        tileDc.SelectObject(wxNullBitmap);
    }

    const wxString text = wxString::FromUTF8(m_state.Text());
    if (text.empty()) return;
    wxDCFontChanger font(dc, m_pFont ? *m_pFont : GetFont());
    wxDCTextBgModeChanger transparent(dc, wxBRUSHSTYLE_TRANSPARENT);
    wxDCTextColourChanger colour(dc, m_crText);
    const wxSize extent = dc.GetTextExtent(text);
    const int x = size.x / 2 - extent.x / 2;
    const int y = size.y / 2 - extent.y / 2;
    {
        wxDCClipper clip(dc, wxRect(0, 0, size.x, size.y));
        dc.DrawText(text, x, y);
    }
    const int textFill = m_state.TextFillWidth(size.x);
    if (m_crTextOverBar != m_crText && textFill > 0) {
        wxDCClipper clip(dc, wxRect(0, 0, textFill, size.y));
        dc.SetTextForeground(m_crTextOverBar);
        dc.DrawText(text, x, y);
    }
}

void CProgressST::OnPaint(wxPaintEvent&)
{
    wxBufferedPaintDC dc(this);
    Render(dc);
}
