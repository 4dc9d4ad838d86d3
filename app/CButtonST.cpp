#include "app/CButtonST.h"

#include "app/CSkinImages.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

namespace {

// Builds the mask that makes the transparent colour see-through; an
// invalid bitmap (a picture that could not be loaded) has no size.
int PrepareImage(const wxBitmap& source, const wxColour& transparent, wxBitmap& prepared)
{
    if (!source.IsOk() || source.GetWidth() <= 0 || source.GetHeight() <= 0) return CButtonST::BitmapsNoSize;
    prepared = source;
    auto* mask = new wxMask;
    if (!mask->Create(prepared, transparent)) {
        delete mask;
        return CButtonST::BitmapsNoMask;
    }
    prepared.SetMask(mask);
    return CButtonST::BitmapsOk;
}

} // namespace

CButtonST::CButtonST(wxWindow* parent, wxWindowID id, const wxString& caption, const wxPoint& pos,
                     const wxSize& size, Kind kind)
    : m_behaviour(kind == CheckBox)
{
    // Every pixel is ours: no native background erase, so no flicker.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(parent, id, pos, size, wxBORDER_NONE | wxWANTS_CHARS);
    SetLabel(caption);
    ResetColours();
    Bind(wxEVT_PAINT, &CButtonST::OnPaint, this);
    Bind(wxEVT_MOTION, &CButtonST::OnMotion, this);
    Bind(wxEVT_LEAVE_WINDOW, &CButtonST::OnLeave, this);
    Bind(wxEVT_LEFT_DOWN, &CButtonST::OnLeftDown, this);
    // A double click is one more press: a check box toggles twice.
    Bind(wxEVT_LEFT_DCLICK, &CButtonST::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &CButtonST::OnLeftUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CButtonST::OnCaptureLost, this);
    Bind(wxEVT_KILL_FOCUS, &CButtonST::OnKillFocus, this);
    Bind(wxEVT_KEY_UP, &CButtonST::OnKeyUp, this);
    Bind(wxEVT_SYS_COLOUR_CHANGED, &CButtonST::OnSysColourChanged, this);
}

void CButtonST::ResetColours()
{
    m_crInBack = m_crOutBack = m_crFocusBack = wxColour(0xFF, 0xFF, 0xFF);
    m_crInFore = m_crOutFore = m_crFocusFore = wxColour(0x66, 0x66, 0x66);
}

int CButtonST::SetBitmaps(int in, const wxColour& inTransparent, int out, const wxColour& outTransparent,
                          int disabled, const wxColour& disabledTransparent)
{
    return SetBitmaps(CSkinImages::Load(in), inTransparent, CSkinImages::Load(out), outTransparent,
                      CSkinImages::Load(disabled), disabledTransparent);
}

int CButtonST::SetBitmaps(int in, const wxColour& inTransparent, int out, const wxColour& outTransparent)
{
    return SetBitmaps(CSkinImages::Load(in), inTransparent, CSkinImages::Load(out), outTransparent, wxBitmap(),
                      wxColour());
}

int CButtonST::SetBitmaps(const wxBitmap& in, const wxColour& inTransparent, const wxBitmap& out,
                          const wxColour& outTransparent, const wxBitmap& disabled,
                          const wxColour& disabledTransparent)
{
    for (ImageSlot& slot : m_images) slot = ImageSlot();
    const wxBitmap* sources[3] = {&in, &out, &disabled};
    const wxColour* colours[3] = {&inTransparent, &outTransparent, &disabledTransparent};
    for (int i = 0; i < 3; ++i) {
        // Only the "in" picture is required.
        if (i > 0 && !sources[i]->IsOk()) continue;
        int result = PrepareImage(*sources[i], *colours[i], m_images[i].bitmap);
        if (result != BitmapsOk) {
            for (ImageSlot& slot : m_images) slot = ImageSlot();
            Refresh();
            return result;
        }
        m_images[i].transparent = *colours[i];
    }
    InvalidateBestSize();
    Refresh();
    return BitmapsOk;
}

void CButtonST::DrawBorder(bool enable, bool repaint)
{
    m_bDrawBorder = enable;
    if (repaint) Refresh();
}

void CButtonST::DrawTransparent(bool repaint)
{
    m_bDrawTransparent = true;
    m_background.Discard();
    if (repaint) Refresh();
}

void CButtonST::SizeToContent()
{
    if (!m_images[0].bitmap.IsOk()) return;
    m_ptImageOrigin = wxPoint(0, 0);
    SetSize(m_images[0].bitmap.GetSize());
}

void CButtonST::SetCheck(int state, bool repaint)
{
    m_behaviour.SetCheck(state);
    if (repaint) Refresh();
}

bool CButtonST::Enable(bool enable)
{
    bool changed = wxControl::Enable(enable);
    if (!enable) CancelHover();
    Refresh();
    return changed;
}

wxSize CButtonST::DoGetBestClientSize() const
{
    return m_images[0].bitmap.IsOk() ? m_images[0].bitmap.GetSize() : wxSize(16, 16);
}

void CButtonST::Render(wxDC& dc)
{
    const wxSize size = GetClientSize();
    const bool disabled = !IsEnabled();
    const bool focused = HasFocus();
    const bool pressed = m_behaviour.IsPressed();
    wxDCTextBgModeChanger transparentText(dc, wxBRUSHSTYLE_TRANSPARENT);

    if (m_bDrawTransparent) {
        dc.DrawBitmap(m_background.Get(*this), 0, 0);
    } else {
        const wxColour& back = (m_behaviour.IsMouseOver() || pressed) ? m_crInBack
                               : focused                              ? m_crFocusBack
                                                                      : m_crOutBack;
        wxDCBrushChanger brush(dc, wxBrush(back));
        wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
        dc.DrawRectangle(0, 0, size.x, size.y);
    }

    if (m_bDrawBorder && (pressed || m_behaviour.IsMouseOver())) {
        wxColour shadow = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW);
        wxColour highlight = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT);
        // Sunken while held, raised while hovered.
        const wxColour& topLeft = pressed ? shadow : highlight;
        const wxColour& bottomRight = pressed ? highlight : shadow;
        wxDCPenChanger pen(dc, wxPen(topLeft));
        dc.DrawLine(0, size.y - 1, 0, 0);
        dc.DrawLine(0, 0, size.x - 1, 0);
        dc.SetPen(wxPen(bottomRight));
        dc.DrawLine(size.x - 1, 0, size.x - 1, size.y - 1);
        dc.DrawLine(size.x - 1, size.y - 1, -1, size.y - 1);
    }

    const wxString caption = GetLabel();
    const int shift = m_behaviour.PressedShift();
    wxRect captionArea(0, 0, size.x, size.y);
    if (m_images[0].bitmap.IsOk()) {
        const auto index = m_behaviour.ImageToDraw(disabled, m_images[1].bitmap.IsOk(), m_images[2].bitmap.IsOk());
        const wxBitmap& image = m_images[index].bitmap;
        const wxSize imageSize = image.GetSize();
        int x = caption.empty() ? (size.x - imageSize.x) / 2 : m_ptImageOrigin.x;
        int y = (size.y - imageSize.y) / 2;
        if (!caption.empty()) {
            int captionLeft = imageSize.x + m_ptImageOrigin.x * 2;
            captionArea = wxRect(captionLeft, 0, std::max(size.x - captionLeft, 0), size.y);
        }
        dc.DrawBitmap(image, x + shift, y + shift, true);
    }

    if (!caption.empty()) {
        captionArea.Offset(shift, shift);
        wxDCFontChanger font(dc, GetFont());
        if (disabled) {
            wxDCTextColourChanger colour(dc, wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT));
            wxRect raised = captionArea;
            raised.Offset(1, 1);
            dc.DrawLabel(caption, raised, wxALIGN_CENTER);
            dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW));
            dc.DrawLabel(caption, captionArea, wxALIGN_CENTER);
        } else {
            auto slot = m_behaviour.CaptionColours(focused);
            const wxColour& fore = slot == CButtonBehaviour::ColoursIn      ? m_crInFore
                                   : slot == CButtonBehaviour::ColoursFocus ? m_crFocusFore
                                                                            : m_crOutFore;
            wxDCTextColourChanger colour(dc, fore);
            dc.DrawLabel(caption, captionArea, wxALIGN_CENTER);
        }
    }
}

void CButtonST::OnPaint(wxPaintEvent&)
{
    wxBufferedPaintDC dc(this);
    Render(dc);
}

void CButtonST::OnMotion(wxMouseEvent& event)
{
    event.Skip();
    bool over = wxRect(GetClientSize()).Contains(event.GetPosition());
    if (m_behaviour.OnMouseMove(over, event.LeftIsDown())) Refresh();
}

void CButtonST::OnLeave(wxMouseEvent& event)
{
    event.Skip();
    // While the button holds the mouse, leaving is seen through the moves.
    if (!HasCapture()) CancelHover();
}

void CButtonST::CancelHover()
{
    if (m_behaviour.CancelHover()) Refresh();
}

void CButtonST::OnLeftDown(wxMouseEvent&)
{
    if (!HasCapture()) CaptureMouse();
    m_behaviour.SetHeld(true);
    Refresh();
}

void CButtonST::OnLeftUp(wxMouseEvent& event)
{
    if (HasCapture()) ReleaseMouse();
    bool wasHeld = m_behaviour.IsHeld();
    m_behaviour.SetHeld(false);
    Refresh();
    if (wasHeld && wxRect(GetClientSize()).Contains(event.GetPosition())) PerformClick();
}

void CButtonST::OnCaptureLost(wxMouseCaptureLostEvent&)
{
    m_behaviour.SetHeld(false);
    Refresh();
}

void CButtonST::OnKillFocus(wxFocusEvent& event)
{
    event.Skip();
    CancelHover();
}

void CButtonST::OnKeyUp(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_SPACE) {
        PerformClick();
        return;
    }
    event.Skip();
}

void CButtonST::OnSysColourChanged(wxSysColourChangedEvent& event)
{
    event.Skip();
    m_background.Discard();
    ResetColours();
    Refresh();
}

void CButtonST::PerformClick()
{
    SetFocus();
    m_behaviour.Click([this] {
        Refresh();
        wxCommandEvent click(wxEVT_BUTTON, GetId());
        click.SetEventObject(this);
        click.SetInt(GetCheck());
        ProcessWindowEvent(click);
    });
}
