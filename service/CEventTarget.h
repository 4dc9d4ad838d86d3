#pragma once
// Where the service's events go: a window (WM_DL_EVENT is posted) and a
// callback (called on the raising thread). Either may be absent.

#include "service/DlApi.h"

struct CEventTarget {
    HWND window = nullptr;
    DlEventCallback callback = nullptr;
    const void* userData = nullptr;

    // Posts to the window if any, then calls the callback if any.
    void Raise(int code, int param) const;
};
