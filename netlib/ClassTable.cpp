// The class-id table of vqSmartPtr::CreateInstance. It sits above the
// subsystems of the network library because it names classes from all of them.

#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwCHttpClientExLayer.h"
#include "netlib/runtime/cpCSocket.h"
#include "netlib/runtime/cpCTimer.h"

vqIUnknown* vqCreateObject(uint32_t classId)
{
    switch (classId) {
    case CLSID_cpCSocket:
        return new cpCSocket();
    case CLSID_cpCTimer:
        return new cpCTimer();
    case CLSID_cpCMutex:
        return new cpCMutex();
    case CLSID_nwCHttpClientExLayer:
        // A layer is handed out through its public interface; the context
        // asks that for the stack face.
        return static_cast<vqIHttpClientExLayer*>(new nwCHttpClientExLayer());
    default:
        return nullptr;
    }
}
