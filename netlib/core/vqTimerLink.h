#pragma once
// Starting and stopping a periodic timer by class id, for owners that must not
// depend on the timer classes (the collector, the job downloaders).
//
// Contract: vqStartTimer stops whatever timer the pointer held, makes a new
// timer (class id 0x1006) and starts it without a lock object; the callback
// then runs as cpCTimer.h describes. It answers false only when no timer
// could be made. vqStopTimer stops the timer and drops the owner's reference;
// an empty pointer is nothing to stop.

#include "netlib/core/vqSmartPtr.h"

#include <cstdint>

typedef void (*vqTimerCallback)(void* userData);

bool vqStartTimer(vqSmartPtr& timer, uint32_t periodMs, vqTimerCallback callback, void* userData, uintptr_t tag);
void vqStopTimer(vqSmartPtr& timer);
