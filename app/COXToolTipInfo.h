#pragma once
// One tool of the tooltip control: a window, or an area of it, and its tip.

#include <wx/colour.h>
#include <wx/gdicmn.h>
#include <wx/string.h>
#include <wx/window.h>

struct COXToolTipInfo {
    wxWindow* window = nullptr; // not owned
    int id = 0;
    wxRect area;                // in the tooltip parent's client coordinates
    wxString text;
    int maxWidth = 0;           // 0: no limit
    wxColour textColour;        // invalid: the system's tooltip text colour
    wxColour backColour;        // invalid: the system's tooltip background
};
