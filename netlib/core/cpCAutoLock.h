#pragma once
#include "netlib/core/cpCMutex.h"

// Holds a cpCMutex for a scope; a null mutex is nothing to lock.
class cpCAutoLock {
public:
    explicit cpCAutoLock(cpCMutex* mutex) : m_mutex(mutex)
    {
        if (m_mutex) m_mutex->Lock();
    }
    ~cpCAutoLock()
    {
        if (m_mutex) m_mutex->Unlock();
    }
    cpCAutoLock(const cpCAutoLock&) = delete;
    cpCAutoLock& operator=(const cpCAutoLock&) = delete;

private:
    cpCMutex* m_mutex;
};
