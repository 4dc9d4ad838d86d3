#pragma once
// The plain (non-atomic) reference count every network object keeps; objects
// are used only under the network lock or on the service thread. Base is the
// object's own interface, which derives from vqIUnknown.

#include "netlib/core/vqIUnknown.h"

#include <cstdint>

template <class Base>
class vqCRefCounted : public Base {
public:
    vqRESULT AddRef() override
    {
        ++m_refCount;
        return VQ_OK;
    }
    vqRESULT Release() override
    {
        if (--m_refCount == 0) delete this;
        return VQ_OK;
    }
    int32_t RefCount() const { return m_refCount; }

protected:
    int32_t m_refCount = 0;
};
