#include "app/CExplorer1.h"

#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>

namespace {

void EnsureImageHandlers()
{
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    if (!wxImage::FindHandler(wxBITMAP_TYPE_GIF)) wxImage::AddHandler(new wxGIFHandler);
    if (!wxImage::FindHandler(wxBITMAP_TYPE_JPEG)) wxImage::AddHandler(new wxJPEGHandler);
}

} // namespace

CExplorer1::CExplorer1(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : m_pNavigation(std::make_shared<int>(0))
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(parent, id, pos, size, wxBORDER_NONE);
    Bind(wxEVT_PAINT, &CExplorer1::OnPaint, this);
}

void CExplorer1::Navigate(const wxString& url)
{
    m_picture = wxBitmap();
    Refresh();
    m_pNavigation = std::make_shared<int>(*m_pNavigation + 1);
    if (!m_fetcher) return;
    std::weak_ptr<int> navigation = m_pNavigation;
    m_fetcher(url, [this, navigation](bool ok, const std::string& body) {
        if (navigation.expired()) return;
        if (ok) ShowContent(body);
    });
}

bool CExplorer1::ShowContent(const std::string& body)
{
    EnsureImageHandlers();
    wxImage image;
    {
        // A banner that is not a picture is no reason for a message box.
        wxLogNull quiet;
        wxMemoryInputStream stream(body.data(), body.size());
        if (!body.empty()) image.LoadFile(stream, wxBITMAP_TYPE_ANY);
    }
    m_picture = image.IsOk() ? wxBitmap(image) : wxBitmap();
    Refresh();
    return m_picture.IsOk();
}

void CExplorer1::Render(wxDC& dc)
{
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    if (m_picture.IsOk()) dc.DrawBitmap(m_picture, 0, 0, true);
}

void CExplorer1::OnPaint(wxPaintEvent&)
{
    wxBufferedPaintDC dc(this);
    Render(dc);
}
