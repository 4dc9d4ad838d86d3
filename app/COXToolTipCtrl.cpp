#include "app/COXToolTipCtrl.h"

#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/display.h>
#include <wx/settings.h>
#include <wx/utils.h>

COXToolTipCtrl::COXToolTipCtrl()
    : m_logic(*this), m_showTimer(this, CToolTipLogic::kShowTimer), m_hideTimer(this, CToolTipLogic::kHideTimer)
{
}

COXToolTipCtrl::~COXToolTipCtrl()
{
    m_logic.Stop();
}

bool COXToolTipCtrl::Create(wxWindow* parent)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxPopupWindow::Create(parent, wxBORDER_NONE)) return false;
    m_pParent = parent;
    SetSize(10, 10);
    SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
    Bind(wxEVT_TIMER, &COXToolTipCtrl::OnTimer, this);
    Bind(wxEVT_PAINT, &COXToolTipCtrl::OnPaint, this);
    return true;
}

void COXToolTipCtrl::SetMaxTipWidth(int width)
{
    for (COXToolTipInfo& tool : m_tools) {
        if (tool.maxWidth == m_nDefaultMaxWidth) tool.maxWidth = width;
    }
    m_nDefaultMaxWidth = width;
}

void COXToolTipCtrl::AddTool(wxWindow* window, const wxString& text, const wxRect& area, int id)
{
    COXToolTipInfo tool;
    tool.window = window;
    tool.id = id;
    tool.text = text;
    tool.maxWidth = m_nDefaultMaxWidth;
    wxRect local = area.IsEmpty() ? wxRect(window->GetClientSize()) : area;
    wxPoint topLeft = m_pParent ? m_pParent->ScreenToClient(window->ClientToScreen(local.GetTopLeft()))
                                : local.GetTopLeft();
    tool.area = wxRect(topLeft, local.GetSize());
    m_tools.push_back(tool);
}

int COXToolTipCtrl::ToolAt(const wxPoint& screenPoint) const
{
    if (!m_pParent) return -1;
    const wxPoint inParent = m_pParent->ScreenToClient(screenPoint);
    for (std::size_t i = 0; i < m_tools.size(); ++i) {
        const COXToolTipInfo& tool = m_tools[i];
        if (!tool.window->IsShownOnScreen() || !m_pParent->IsDescendant(tool.window)) continue;
        if (!tool.window->GetScreenRect().Contains(screenPoint)) continue;
        if (tool.area.Contains(inParent)) return static_cast<int>(i);
    }
    return -1;
}

void COXToolTipCtrl::RelayEvent(const wxEvent& event)
{
    const wxEventType type = event.GetEventType();
    if (type == wxEVT_MOTION) {
        m_logic.OnMouseMove(ToolAt(wxGetMousePosition()), CursorInTip());
    } else if (type == wxEVT_LEFT_DOWN) {
        m_logic.OnLeftButtonDown(CursorInTip());
    } else if (type == wxEVT_KEY_DOWN || type == wxEVT_KEY_UP || type == wxEVT_CHAR || type == wxEVT_LEFT_DCLICK ||
               type == wxEVT_RIGHT_DOWN || type == wxEVT_RIGHT_UP || type == wxEVT_RIGHT_DCLICK ||
               type == wxEVT_MIDDLE_DOWN || type == wxEVT_MIDDLE_UP || type == wxEVT_MIDDLE_DCLICK) {
        m_logic.Dismiss();
    }
}

std::vector<wxString> COXToolTipCtrl::WrapLines(const wxString& text, int maxWidth,
                                                const std::function<int(const wxString&)>& measure)
{
    std::vector<wxString> lines;
    for (const wxString& paragraph : wxSplit(text, '\n', '\0')) {
        if (maxWidth <= 0 || measure(paragraph) <= maxWidth) {
            lines.push_back(paragraph);
            continue;
        }
        wxString line;
        size_t lastSpace = wxString::npos;
        for (wxUniChar c : paragraph) {
            wxString longer = line + c;
            if (line.empty() || measure(longer) <= maxWidth) {
                if (c == ' ') lastSpace = line.length();
                line = longer;
                continue;
            }
            if (lastSpace != wxString::npos && c != ' ') {
                lines.push_back(line.substr(0, lastSpace));
                line = line.substr(lastSpace + 1) + c;
            } else {
                lines.push_back(line);
                line = c == ' ' ? wxString() : wxString(c);
            }
            lastSpace = wxString::npos;
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<wxString> COXToolTipCtrl::Lines(int tool) const
{
    return WrapLines(m_tools[tool].text, m_tools[tool].maxWidth,
                     [this](const wxString& s) { return GetTextExtent(s).x; });
}

wxSize COXToolTipCtrl::TipSize(int tool) const
{
    int width = 0;
    const std::vector<wxString> lines = Lines(tool);
    const int lineHeight = GetCharHeight();
    for (const wxString& line : lines) width = std::max(width, GetTextExtent(line).x);
    return wxSize(width + kMarginLeft + kMarginRight,
                  lineHeight * static_cast<int>(lines.size()) + kMarginTop + kMarginBottom);
}

void COXToolTipCtrl::Render(wxDC& dc, int tool)
{
    const COXToolTipInfo& info = m_tools[tool];
    const wxSize size = TipSize(tool);
    wxColour back = info.backColour.IsOk() ? info.backColour : wxSystemSettings::GetColour(wxSYS_COLOUR_INFOBK);
    wxColour fore = info.textColour.IsOk() ? info.textColour : wxSystemSettings::GetColour(wxSYS_COLOUR_INFOTEXT);
    wxDCPenChanger pen(dc, *wxBLACK_PEN);
    wxDCBrushChanger brush(dc, wxBrush(back));
    dc.DrawRectangle(0, 0, size.x, size.y);
    wxDCFontChanger font(dc, GetFont());
    wxDCTextColourChanger colour(dc, fore);
    wxDCTextBgModeChanger transparent(dc, wxBRUSHSTYLE_TRANSPARENT);
    int y = kMarginTop;
    for (const wxString& line : Lines(tool)) {
        dc.DrawText(line, kMarginLeft, y);
        y += GetCharHeight();
    }
}

void COXToolTipCtrl::StartTimer(int timer, int periodMs)
{
    (timer == CToolTipLogic::kShowTimer ? m_showTimer : m_hideTimer).Start(periodMs);
}

void COXToolTipCtrl::StopTimer(int timer)
{
    (timer == CToolTipLogic::kShowTimer ? m_showTimer : m_hideTimer).Stop();
}

void COXToolTipCtrl::ShowTip(int tool)
{
    m_nShownTool = tool;
    const wxSize size = TipSize(tool);
    const wxPoint cursor = wxGetMousePosition();
    const wxRect screen = wxDisplay(m_pParent).GetGeometry();
    const int toolTop = m_tools[tool].window->GetScreenRect().GetTop();
    CToolTipLogic::Rect tip = CToolTipLogic::Place(cursor.x, cursor.y, size.x, size.y,
                                                   {screen.x, screen.y, screen.width, screen.height}, toolTop);
    SetSize(tip.x, tip.y, tip.width, tip.height);
    Show();
    Refresh();
}

void COXToolTipCtrl::HideTip()
{
    Hide();
}

int COXToolTipCtrl::ToolUnderCursor() const
{
    return ToolAt(wxGetMousePosition());
}

bool COXToolTipCtrl::CursorInTip() const
{
    return IsShown() && GetScreenRect().Contains(wxGetMousePosition());
}

void COXToolTipCtrl::OnTimer(wxTimerEvent& event)
{
    m_logic.OnTimer(event.GetId());
}

void COXToolTipCtrl::OnPaint(wxPaintEvent&)
{
    wxBufferedPaintDC dc(this);
    if (m_nShownTool >= 0) Render(dc, m_nShownTool);
}
