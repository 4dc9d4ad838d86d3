#pragma once
// Tests that draw need the GUI half of wxWidgets and an X display. The first
// such test of a process starts a private Xvfb server (so the tests run the
// same on a desktop and on a headless machine) and initialises wx; both end
// when the process's tests are done.

#include <gtest/gtest.h>

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>

class AppDisplayTest : public testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A top-level window for the test's controls, deleted after the test.
    wxFrame* m_pFrame = nullptr;
};

// What control.Render draws, as an image of the control's client size.
template <class Control>
wxImage RenderToImage(Control& control)
{
    wxBitmap bitmap(control.GetClientSize(), 24);
    {
        wxMemoryDC dc(bitmap);
        control.Render(dc);
        dc.SelectObject(wxNullBitmap);
    }
    return bitmap.ConvertToImage();
}

inline wxColour PixelAt(const wxImage& image, int x, int y)
{
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

// A bitmap of one colour; with a key colour, its top-left pixel has that colour.
wxBitmap SolidBitmap(int width, int height, const wxColour& colour, const wxColour& cornerKey = wxColour());
