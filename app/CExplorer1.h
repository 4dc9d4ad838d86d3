#pragma once
// The banner area: shows the picture found at a URL. The fetching is the
// owner's (SetFetcher); this window only asks for the URL's bytes and shows
// what they hold. Until a picture arrives, and for content that is not a
// picture or could not be fetched, the area stays blank.

#include <wx/bitmap.h>
#include <wx/window.h>

#include <functional>
#include <memory>
#include <string>

class CExplorer1 : public wxWindow {
public:
    // Called with the body once the fetch has ended; ok false for a failed fetch.
    using Done = std::function<void(bool ok, const std::string& body)>;
    // Starts fetching url and calls done on the UI thread, at once or later.
    // done may be called after this window is gone; it then does nothing.
    using Fetcher = std::function<void(const wxString& url, Done done)>;

    CExplorer1(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
               const wxSize& size = wxDefaultSize);

    void SetFetcher(Fetcher fetcher) { m_fetcher = std::move(fetcher); }
    // Blanks the area and fetches url; a later Navigate wins over an earlier one.
    void Navigate(const wxString& url);
    // Shows the picture held in body (PNG, GIF, JPEG; a GIF's first frame).
    // False, and a blank area, when body holds no picture.
    bool ShowContent(const std::string& body);
    bool HasPicture() const { return m_picture.IsOk(); }

    // Draws the area into dc at (0, 0).
    void Render(wxDC& dc);

private:
    void OnPaint(wxPaintEvent& event);

    Fetcher m_fetcher;
    wxBitmap m_picture;
    // Answers of fetches check it: a window that is gone, or a fetch that
    // a newer Navigate replaced, is left alone.
    std::shared_ptr<int> m_pNavigation;
};
