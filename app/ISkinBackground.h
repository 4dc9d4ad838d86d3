#pragma once
// A window whose skinned children draw over its own background picture.
//
// Contract:
// - DrawSkinBackground draws what the window itself shows under `area`
//   (a rectangle in its client coordinates) into dc, with the area's
//   top-left corner at dc's (0, 0). It draws its own background only, never
//   its children, and leaves the dc's objects as it found them.
// - It is called on the UI thread while a child paints, so it must not
//   change the window or its children.
// Transparent controls (CButtonST, CTransparentStatic2) look for this on
// their parent; a parent without it shows its background colour instead.

#include <wx/dc.h>
#include <wx/gdicmn.h>

class ISkinBackground {
public:
    virtual ~ISkinBackground() = default;
    virtual void DrawSkinBackground(wxDC& dc, const wxRect& area) const = 0;
};
