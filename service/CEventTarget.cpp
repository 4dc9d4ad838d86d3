#include "service/CEventTarget.h"

#include "platform/MessageLoop.h"

void CEventTarget::Raise(int code, int param) const
{
    if (window) PostMessage(window, WM_DL_EVENT, static_cast<WPARAM>(code), static_cast<LPARAM>(param));
    if (callback) callback(code, param, userData);
}
