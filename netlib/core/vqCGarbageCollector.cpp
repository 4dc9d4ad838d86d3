#include "netlib/core/vqCGarbageCollector.h"

#include "netlib/core/cpClock.h"
#include "netlib/core/vqTimerLink.h"

namespace {
vqCGarbageCollector* g_instance = nullptr;
}

vqCGarbageCollector* vqCGarbageCollector::Instance()
{
    if (!g_instance) {
        g_instance = new vqCGarbageCollector();
        g_instance->Initialize();
    }
    return g_instance;
}

void vqCGarbageCollector::DestroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

vqRESULT vqCGarbageCollector::Initialize()
{
    if (!m_entries) m_entries = new vqCPtrList();
    vqStartTimer(m_timer, kSweepPeriodMs, &vqCGarbageCollector::OnSweep, this, kTimerTag);
    return VQ_OK_PLATFORM;
}

vqRESULT vqCGarbageCollector::Shutdown()
{
    vqStopTimer(m_timer);
    m_timer.Assign(nullptr);
    if (m_entries) {
        while (m_entries->GetCount() > 0) delete static_cast<Entry*>(m_entries->RemoveAt(0));
        delete m_entries;
        m_entries = nullptr;
    }
    return VQ_OK_PLATFORM;
}

vqCGarbageCollector::~vqCGarbageCollector()
{
    Shutdown();
}

void vqCGarbageCollector::Add(vqSmartPtr object)
{
    if (!object.Get()) return;
    if (!m_entries) m_entries = new vqCPtrList();
    Entry* entry = new Entry(object);
    uint32_t now;
    cpGetTime(&now);
    entry->expiry = now + 3;
    m_entries->AddTail(entry);
}

void vqCGarbageCollector::Collect()
{
    if (!m_entries) return;
    uint32_t now;
    cpGetTime(&now);
    while (m_entries->GetCount() > 0) {
        Entry* first = static_cast<Entry*>(m_entries->GetHead());
        if (!(first->expiry < now)) break;
        m_entries->RemoveAt(0);
        // Releasing may run destructors that hand further objects to Add;
        // they land at the tail with a later expiry.
        delete first;
    }
}

void vqCGarbageCollector::OnSweep(void* self)
{
    static_cast<vqCGarbageCollector*>(self)->Collect();
}
