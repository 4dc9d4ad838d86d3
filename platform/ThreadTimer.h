#pragma once
// Thread timers without a window, as the message loop of the network runtime
// expects them.
//
// Contract:
// - SetTimer(nullptr, id, elapseMs, procedure) starts a periodic timer owned
//   by the calling thread and answers its identifier (never 0; 0 means
//   failure). An id that names a live timer of the calling thread changes
//   that timer and answers the same id; any other id is ignored and a new one
//   is made. A window target is not supported here (0).
// - Each expiry turns into one thread message {WM_TIMER, wParam = id,
//   lParam = procedure} in the owner's queue, retrieved in order with the
//   other messages. At most one is pending per timer: expiries that pass while
//   one waits for DispatchMessage are merged into it.
// - DispatchMessage calls the procedure on the owning thread. The procedure
//   may kill its own timer or any other.
// - KillTimer may be called from any thread, also after the owner has ended;
//   it removes the timer's pending message and no further message is made.
//   It answers false for an unknown id.
// - elapseMs below 10 is raised to 10.

#include "platform/WinTypes.h"

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure);
bool KillTimer(HWND window, UINT_PTR id);
