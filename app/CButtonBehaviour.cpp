#include "app/CButtonBehaviour.h"

bool CButtonBehaviour::OnMouseMove(bool overButton, bool leftButtonDown)
{
    if (leftButtonDown && !m_bMouseOver) return false;
    if (!overButton) return CancelHover();
    if (m_bMouseOver) return false;
    m_bMouseOver = true;
    return true;
}

bool CButtonBehaviour::CancelHover()
{
    if (!m_bMouseOver) return false;
    m_bMouseOver = false;
    return true;
}

bool CButtonBehaviour::IsPressed() const
{
    return m_bCheckBox ? (m_bHeld || m_nCheck == 1) : m_bHeld;
}

void CButtonBehaviour::SetCheck(int state)
{
    if (m_bCheckBox) m_nCheck = (state == 1 || state == 2) ? 1 : 0;
}

void CButtonBehaviour::Click(const std::function<void()>& notifyParent)
{
    if (m_bCheckBox) m_nCheck = m_nCheck ? 0 : 1;
    notifyParent();
}

CButtonBehaviour::Image CButtonBehaviour::ImageToDraw(bool disabled, bool hasOutImage, bool hasDisabledImage) const
{
    bool showIn = m_bCheckBox ? IsPressed() : (IsPressed() || m_bMouseOver);
    if (showIn) return ImageIn;
    if (disabled && hasDisabledImage) return ImageDisabled;
    return hasOutImage ? ImageOut : ImageIn;
}

CButtonBehaviour::Colours CButtonBehaviour::CaptionColours(bool focused) const
{
    if (m_bMouseOver || IsPressed()) return ColoursIn;
    return focused ? ColoursFocus : ColoursOut;
}
