// Periodic timers started through the class table.

#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqTimerLink.h"
#include "netlib/runtime/cpCTimer.h"

bool vqStartTimer(vqSmartPtr& timer, uint32_t periodMs, vqTimerCallback callback, void* userData, uintptr_t tag)
{
    vqStopTimer(timer);
    if (!timer.CreateInstance(CLSID_cpCTimer)) return false;
    timer.As<cpCTimer>()->Start(periodMs, callback, userData, static_cast<uint32_t>(tag), vqSmartPtr());
    return true;
}

void vqStopTimer(vqSmartPtr& timer)
{
    if (timer.Get()) timer.As<cpCTimer>()->Stop();
    timer.Assign(nullptr);
}
