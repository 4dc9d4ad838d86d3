#pragma once
// A recursive lock object (class id 0x1008). One of them is the process's
// network lock; every runtime object is used while holding it.

#include "netlib/core/vqCRefCounted.h"

#include <memory>
#include <mutex>

class cpCMutex : public vqCRefCounted<vqIUnknown> {
public:
    cpCMutex();
    ~cpCMutex() override;

    virtual vqRESULT SetTag(void* tag);
    virtual vqRESULT Lock();
    virtual vqRESULT Unlock();

private:
    void* m_tag = nullptr;
    std::unique_ptr<std::recursive_mutex> m_lock;
};
