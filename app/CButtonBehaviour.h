#pragma once
// How a skinned button reacts: hover, holding, the check state of a check
// box and which of its images shows. Kept apart from the drawing so the rules
// can be checked without a screen.

#include <functional>

class CButtonBehaviour {
public:
    enum Image { ImageIn = 0, ImageOut = 1, ImageDisabled = 2 };
    enum Colours { ColoursIn, ColoursOut, ColoursFocus };

    explicit CButtonBehaviour(bool checkBox) : m_bCheckBox(checkBox) {}

    bool IsCheckBox() const { return m_bCheckBox; }

    // The mouse moved; true when the look changed. A move with the left
    // button down does not start hovering (a drag that began elsewhere).
    bool OnMouseMove(bool overButton, bool leftButtonDown);
    // The mouse left, the focus went, the button was disabled; true when the
    // look changed.
    bool CancelHover();
    bool IsMouseOver() const { return m_bMouseOver; }

    // The left button went down (true) or up (false) on the button.
    void SetHeld(bool held) { m_bHeld = held; }
    bool IsHeld() const { return m_bHeld; }
    // A check box looks pressed while checked or held; a button while held.
    bool IsPressed() const;

    // Check state of a check box: 1 or 2 check it, anything else clears it.
    // Push buttons keep 0.
    void SetCheck(int state);
    int GetCheck() const { return m_nCheck; }

    // A completed click: a check box toggles first, then the parent is told,
    // so the parent's handler sees the new state.
    void Click(const std::function<void()>& notifyParent);

    // The image to draw. A disabled button without a disabled image falls
    // back to its normal image instead of drawing none.
    Image ImageToDraw(bool disabled, bool hasOutImage, bool hasDisabledImage) const;
    // The image and caption move by (1, 1) while a push button is pressed.
    int PressedShift() const { return (!m_bCheckBox && IsPressed()) ? 1 : 0; }
    Colours CaptionColours(bool focused) const;

private:
    bool m_bCheckBox;
    bool m_bMouseOver = false;
    bool m_bHeld = false;
    int m_nCheck = 0;
};
