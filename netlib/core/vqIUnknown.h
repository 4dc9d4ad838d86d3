#pragma once
// The root interface of every network-library object.
//
// Contract: AddRef and Release always answer VQ_OK, never the count. The
// release that brings the count to 0 destroys the object, so a caller must not
// touch the object after its own last Release. QueryInterface stores an
// interface pointer (without taking a reference) and answers a success code,
// or answers a failure and leaves *out untouched.

#include "netlib/core/vqResult.h"

class vqIUnknown {
public:
    virtual vqRESULT AddRef() = 0;
    virtual vqRESULT Release() = 0;
    virtual vqRESULT QueryInterface(uint32_t interfaceId, void** out)
    {
        (void)interfaceId;
        (void)out;
        return VQ_E_NOINTERFACE;
    }
    virtual ~vqIUnknown() = default;
};
