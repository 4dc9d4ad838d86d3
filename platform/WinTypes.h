#pragma once
// Basic types of the platform layer: the message record, window handles and
// the message numbers that the layers above share.

#include <cstdint>

struct PlatformWindowTarget;
// A window handle: a registered message target, null meaning none. Handles are
// never reused within a process, so a stale handle simply no longer resolves.
typedef PlatformWindowTarget* HWND;

typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uintptr_t UINT_PTR;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Window procedure: runs on the thread that created the window, from DispatchMessage.
typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Thread timer procedure: lParam of a thread WM_TIMER message names it.
typedef void (*TIMERPROC)(HWND window, UINT message, UINT_PTR timerId, DWORD tickMs);

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr DWORD INFINITE_WAIT = 0xFFFFFFFFu;
