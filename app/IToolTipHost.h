#pragma once
// What the tooltip's timing rules (CToolTipLogic) need from the window that
// shows the tip.
//
// Contract:
// - Tools are numbered by the host; -1 means no tool.
// - StartTimer(timer, periodMs) (re)starts a periodic timer; the host calls
//   CToolTipLogic::OnTimer(timer) at each period until StopTimer(timer).
//   Stopping a timer that does not run is harmless.
// - ShowTip(tool) places the tip for that tool at the cursor plus the cursor
//   offset and shows it without activating it; HideTip hides it. Both may be
//   called when the tip is already in that state.
// - ToolUnderCursor and CursorInTip answer for the cursor's position at the
//   moment of the call; a tool whose window is hidden is never under the cursor.

class IToolTipHost {
public:
    virtual ~IToolTipHost() = default;
    virtual void StartTimer(int timer, int periodMs) = 0;
    virtual void StopTimer(int timer) = 0;
    virtual void ShowTip(int tool) = 0;
    virtual void HideTip() = 0;
    virtual int ToolUnderCursor() const = 0;
    virtual bool CursorInTip() const = 0;
};
