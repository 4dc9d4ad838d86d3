#pragma once
// Starting and stopping a periodic timer by class id, for owners that must not
// depend on the timer classes (the collector, the job downloaders). Without a
// timer class in the class table nothing is started (false) and the owner's
// periodic work runs only when called directly.

#include "netlib/core/vqSmartPtr.h"

#include <cstdint>

typedef void (*vqTimerCallback)(void* userData);

bool vqStartTimer(vqSmartPtr& timer, uint32_t periodMs, vqTimerCallback callback, void* userData, uintptr_t tag);
// Stops the timer and drops the owner's reference.
void vqStopTimer(vqSmartPtr& timer);
