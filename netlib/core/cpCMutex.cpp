#include "netlib/core/cpCMutex.h"

cpCMutex::cpCMutex() : m_lock(std::make_unique<std::recursive_mutex>()) {}

cpCMutex::~cpCMutex() = default;

vqRESULT cpCMutex::SetTag(void* tag)
{
    m_tag = tag;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCMutex::Lock()
{
    m_lock->lock();
    return VQ_OK_PLATFORM;
}

vqRESULT cpCMutex::Unlock()
{
    m_lock->unlock();
    return VQ_OK_PLATFORM;
}
