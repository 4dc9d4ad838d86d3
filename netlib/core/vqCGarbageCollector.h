#pragma once
// Deferred release of objects that may still be on the call stack.
//
// Contract: a session that is done with a connection context hands its smart
// pointer to Add instead of releasing it; the collector holds its own
// reference and releases it at the first collection after the wall clock has
// passed the hand-over second + 3, that is 3 to 7 seconds later with the
// 3000 ms sweep, always on the service thread. Shutdown releases every
// pending object at once. Add and Collect run on the service thread or under
// the network lock.

#include "netlib/core/vqCPtrList.h"
#include "netlib/core/vqSmartPtr.h"

#include <cstdint>

class vqCGarbageCollector {
public:
    // Constructed on first use unless the network start-up made it first.
    static vqCGarbageCollector* Instance();
    // Shuts the singleton down and destroys it (network shut-down).
    static void DestroyInstance();

    virtual vqRESULT Initialize(); // starts the sweep timer, makes the list
    virtual vqRESULT Shutdown();   // stops the timer, releases every entry
    virtual ~vqCGarbageCollector();

    void Add(vqSmartPtr object);
    void Collect();
    int32_t PendingCount() const { return m_entries ? m_entries->GetCount() : 0; }

    static constexpr uint32_t kSweepPeriodMs = 3000;
    static constexpr uintptr_t kTimerTag = 0x1000001;

private:
    vqCGarbageCollector() = default;

    struct Entry : vqSmartPtr {
        explicit Entry(const vqSmartPtr& object) : vqSmartPtr(object) {}
        uint32_t expiry = 0;
    };
    static void OnSweep(void* self);

    vqSmartPtr m_timer;
    vqCPtrList* m_entries = nullptr;
};
