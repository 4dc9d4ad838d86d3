#pragma once
// A parent for transparent controls whose background tells, at every
// pixel, where that pixel is.

#include "app/ISkinBackground.h"

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/panel.h>

class PatternPanel : public wxPanel, public ISkinBackground {
public:
    explicit PatternPanel(wxWindow* parent) : wxPanel(parent, wxID_ANY, wxPoint(0, 0), wxSize(600, 400)) {}

    static wxColour At(int x, int y) { return wxColour(x % 256, y % 256, 77); }

    void DrawSkinBackground(wxDC& dc, const wxRect& area) const override
    {
        wxImage image(area.width, area.height);
        for (int y = 0; y < area.height; ++y) {
            for (int x = 0; x < area.width; ++x) {
                wxColour c = At(area.x + x, area.y + y);
                image.SetRGB(x, y, c.Red(), c.Green(), c.Blue());
            }
        }
        dc.DrawBitmap(wxBitmap(image, 24), 0, 0);
    }
};
