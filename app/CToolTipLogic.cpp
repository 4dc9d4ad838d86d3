#include "app/CToolTipLogic.h"

void CToolTipLogic::OnMouseMove(int tool, bool cursorInTip)
{
    if (tool < 0) {
        // Off every tool while a tip shows: the hide check decides.
        if (!m_bShown) m_nCurrentTool = -1;
        return;
    }
    if (tool == m_nCurrentTool) return;
    if (m_bShown && cursorInTip) return;
    m_nCurrentTool = tool;
    Hide();
    m_host.StartTimer(kShowTimer, kShowDelayMs);
}

void CToolTipLogic::OnLeftButtonDown(bool cursorInTip)
{
    if (!cursorInTip) Dismiss();
}

void CToolTipLogic::Dismiss()
{
    Hide();
}

void CToolTipLogic::OnTimer(int timer)
{
    if (timer == kShowTimer) {
        m_host.StopTimer(kShowTimer);
        if (m_nCurrentTool < 0 || m_host.ToolUnderCursor() != m_nCurrentTool) return;
        m_host.ShowTip(m_nCurrentTool);
        m_bShown = true;
        m_nElapsedMs = 0;
        m_host.StartTimer(kHideTimer, kHideCheckMs);
        return;
    }
    if (timer != kHideTimer) return;
    m_nElapsedMs += kHideCheckMs;
    int tool = m_host.ToolUnderCursor();
    bool onTool = tool == m_nCurrentTool || tool < 0;
    if (onTool && (m_nElapsedMs < kLongestDisplayMs || m_host.CursorInTip())) return;
    Hide();
}

void CToolTipLogic::Stop()
{
    m_host.StopTimer(kShowTimer);
    m_host.StopTimer(kHideTimer);
}

void CToolTipLogic::Hide()
{
    m_host.StopTimer(kShowTimer);
    m_host.StopTimer(kHideTimer);
    m_bShown = false;
    m_host.HideTip();
}

CToolTipLogic::Rect CToolTipLogic::Place(int cursorX, int cursorY, int width, int height, const Rect& screen,
                                         int toolTop)
{
    Rect tip{cursorX + kCursorOffsetX, cursorY + kCursorOffsetY, width, height};
    if (tip.x + width > screen.x + screen.width) tip.x = screen.x + screen.width - width;
    if (tip.x < screen.x) tip.x = screen.x;
    if (tip.y + height > screen.y + screen.height) tip.y = toolTop - height;
    return tip;
}
