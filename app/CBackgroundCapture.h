#pragma once
// The parent's pixels under a transparent control, taken when first needed
// and taken again only when the control moves or changes size (a control
// that grows gets background under all of it).

#include <wx/bitmap.h>
#include <wx/gdicmn.h>
#include <wx/window.h>

class CBackgroundCapture {
public:
    // The parent's background under control, control's size.
    const wxBitmap& Get(const wxWindow& control);
    void Discard() { m_bitmap = wxBitmap(); }

private:
    wxBitmap m_bitmap;
    wxRect m_rect;
};
