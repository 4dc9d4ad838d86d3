#include "app/CBackgroundCapture.h"

#include "app/ISkinBackground.h"

#include <wx/dcmemory.h>

#include <algorithm>

const wxBitmap& CBackgroundCapture::Get(const wxWindow& control)
{
    wxRect rect = control.GetRect();
    if (m_bitmap.IsOk() && rect == m_rect) return m_bitmap;
    m_rect = rect;
    m_bitmap = wxBitmap(std::max(rect.width, 1), std::max(rect.height, 1), 24);
    wxMemoryDC dc(m_bitmap);
    const wxWindow* parent = control.GetParent();
    const auto* skin = dynamic_cast<const ISkinBackground*>(parent);
    if (skin) {
        skin->DrawSkinBackground(dc, rect);
    } else {
        dc.SetBackground(wxBrush(parent ? parent->GetBackgroundColour() : control.GetBackgroundColour()));
        dc.Clear();
    }
    dc.SelectObject(wxNullBitmap);
    return m_bitmap;
}
