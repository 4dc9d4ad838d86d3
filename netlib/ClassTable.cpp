// The class-id table of vqSmartPtr::CreateInstance. It sits above the
// subsystems of the network library because it names classes from all of them.

#include "netlib/Lib_SSL/nwCSecureSocketClientLayer.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/http/nwCHTTPDownloader.h"
#include "netlib/layers/nwCAgentLayer.h"
#include "netlib/layers/nwCCDNLocalClientLayer.h"
#include "netlib/layers/nwCHttpClientExLayer.h"
#include "netlib/runtime/cpCQoSContext.h"
#include "netlib/runtime/cpCSocket.h"
#include "netlib/runtime/cpCTimer.h"
#include "netlib/runtime/nwCStreamDispatcher.h"

namespace {
uint32_t g_testClassId = 0;
vqIUnknown* (*g_testMaker)() = nullptr;
} // namespace

void vqRegisterClassForTesting(uint32_t classId, vqIUnknown* (*maker)())
{
    g_testClassId = classId;
    g_testMaker = maker;
}

vqIUnknown* vqCreateObject(uint32_t classId)
{
    if (g_testMaker && classId == g_testClassId) return g_testMaker();
    switch (classId) {
    case CLSID_cpCSocket:
        return new cpCSocket();
    case CLSID_cpCTimer:
        return new cpCTimer();
    case CLSID_cpCMutex:
        return new cpCMutex();
    case CLSID_cpCQoSContext:
        return static_cast<vqIQoSContext*>(new cpCQoSContext());
    // A layer is handed out through its public interface; the context asks
    // that for the stack face.
    case CLSID_nwCAgentLayer:
        return static_cast<vqIAgentLayer*>(new nwCAgentLayer());
    case CLSID_nwCCDNLocalClientLayer:
        return static_cast<vqICDNLocalClientLayer*>(new nwCCDNLocalClientLayer());
    case CLSID_nwCHttpClientExLayer:
        return static_cast<vqIHttpClientExLayer*>(new nwCHttpClientExLayer());
    case CLSID_nwCSecureSocketClientLayer:
        return static_cast<vqISecureSocketClientLayer*>(new nwCSecureSocketClientLayer());
    case CLSID_nwCHTTPDownloader:
        return static_cast<vqIHTTPDownloader*>(new nwCHTTPDownloader());
    case CLSID_nwCStreamDispatcher:
        return new nwCStreamDispatcher();
    default:
        return nullptr;
    }
}
