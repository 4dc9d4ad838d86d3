#pragma once
// Message functions of the platform layer: window targets, posting, retrieval
// and dispatch, modelled on a classic per-thread message loop.
//
// Contract:
// - A window target is bound to the thread that creates it; DispatchMessage
//   calls its procedure on that thread. A procedure may destroy its own window
//   or any other; messages still queued for a destroyed window are dropped at
//   dispatch.
// - A foreign window has no procedure and no thread of ours: PostMessage hands
//   each message at once, on the posting thread, to the owner's deliver
//   function, which must only queue it onto the owner's own loop (a GUI event
//   queue, a front end's pipe). The deliver function must not call back into
//   the poster.
// - PostMessage and PostThreadMessage never block and may be called from any
//   thread; a message posted to a window or thread that no longer exists is
//   refused (false).

#include "platform/WinTypes.h"

typedef void (*ForeignDeliverFn)(void* owner, const MSG& msg);

DWORD GetCurrentThreadId();

HWND CreateMessageWindow(WNDPROC procedure, void* userData);
HWND CreateForeignWindow(ForeignDeliverFn deliver, void* owner);
bool DestroyMessageWindow(HWND window);
bool IsMessageWindow(HWND window);
void* GetMessageWindowUserData(HWND window);

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Blocks until a message arrives for the calling thread. Returns 1 for an
// ordinary message, 0 for WM_QUIT and -1 when the wait itself failed.
int GetMessage(MSG* msg);
// As GetMessage with a time limit; false when nothing arrived in time.
bool GetMessageTimeout(MSG* msg, DWORD timeoutMs);
// Never blocks. remove=false leaves the message in the queue.
bool PeekMessage(MSG* msg, bool remove);
// Kept for the shape of the loop; there is no keyboard translation here.
bool TranslateMessage(const MSG* msg);
// Calls the window procedure of msg->hwnd, or for a thread WM_TIMER whose
// lParam names a timer procedure, that procedure. Unknown windows: 0.
LRESULT DispatchMessage(const MSG* msg);
