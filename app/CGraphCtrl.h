#pragma once
// The speed graph: the last 68 samples (megabits per second, full height
// 100) as gold bars over a background picture, newest on the right.

#include "app/CGraphSamples.h"

#include <wx/bitmap.h>
#include <wx/control.h>

class CGraphCtrl : public wxControl {
public:
    static const wxColour kBarColour;

    CGraphCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
               const wxSize& size = wxDefaultSize);

    void AddSample(int value) { m_samples.AddSample(value); }
    const CGraphSamples& Samples() const { return m_samples; }
    // Replaces the background picture (the graph's own is loaded at construction).
    void SetBackgroundBitmap(const wxBitmap& background);
    // Shows the samples now.
    void Redraw();

    // Draws the graph into dc at (0, 0).
    void Render(wxDC& dc);

protected:
    wxSize DoGetBestClientSize() const override;

private:
    void OnPaint(wxPaintEvent& event);

    CGraphSamples m_samples;
    wxBitmap m_background;
};
