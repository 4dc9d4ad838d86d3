#include "netlib/runtime/CVyx.h"

#include "netlib/Lib_SSL/COpenSSL.h"
#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/core/vqLog.h"
#include "netlib/http/nwCHttpMimeTypeMap.h"
#include "netlib/runtime/cpCQoS.h"
#include "netlib/runtime/cpCTimerManager.h"
#include "netlib/runtime/cpSocketFunctions.h"

#include <string>

namespace {
const CVyxCertificate kBuiltIn[] = {{nullptr, nullptr}};
}

const CVyxCertificate* CVyx::BuiltInCertificates()
{
    return kBuiltIn;
}

CVyx::CVyx(cpCMutex* networkLock, const CVyxCertificate* certificates)
{
    COpenSSL::Startup();
    cpNetStartup();
    // The timer manager first: timers started before it would never fire.
    cpCTimerManager::Create(networkLock);
    cpCQoS::Create(networkLock);
    vqCGarbageCollector::Instance();
    nwCHttpMimeTypeMap::Instance();
    for (const CVyxCertificate* entry = certificates ? certificates : kBuiltIn; entry->name; ++entry) {
        if (VQ_FAILED(COpenSSL::AddCertificate(entry->name, entry->pem))) continue;
        vqLogLine((std::string("Add Certificate Ok - ") + entry->name + "\n").c_str());
    }
}

CVyx::~CVyx()
{
    nwCHttpMimeTypeMap::DestroyInstance();
    vqCGarbageCollector::DestroyInstance();
    cpCQoS::Destroy();
    cpCTimerManager::Destroy();
}

vqRESULT CVyx::Shutdown()
{
    cpNetCleanup();
    return COpenSSL::Cleanup();
}
