// Periodic timers started through the class table.

#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqTimerLink.h"

bool vqStartTimer(vqSmartPtr& timer, uint32_t, vqTimerCallback, void*, uintptr_t)
{
    // The timer class joins the table with the runtime's timers (issue #4).
    return timer.CreateInstance(CLSID_cpCTimer);
}

void vqStopTimer(vqSmartPtr& timer)
{
    timer.Assign(nullptr);
}
