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
    // A manager that exists already belongs to another runtime: this one
    // neither uses nor destroys it. One it made but that failed is still its
    // own to destroy.
    if (!cpCTimerManager::Get()) {
        m_ownsTimers = true;
        m_up = VQ_SUCCEEDED(cpCTimerManager::Create(networkLock));
    }
    if (m_up && !cpCQoS::Get()) {
        m_ownsSockets = true;
        m_up = VQ_SUCCEEDED(cpCQoS::Create(networkLock));
    } else {
        m_up = false;
    }
    vqCGarbageCollector::Instance();
    nwCHttpMimeTypeMap::Instance();
    for (const CVyxCertificate* entry = certificates ? certificates : kBuiltIn; entry->name; ++entry) {
        if (VQ_FAILED(COpenSSL::AddCertificate(entry->name, entry->pem))) continue;
        vqLogLine((std::string("Add Certificate Ok - ") + entry->name + "\n").c_str());
    }
}

CVyx::~CVyx()
{
    // The process-wide objects belong to the runtime that came first.
    if (!m_ownsTimers) return;
    nwCHttpMimeTypeMap::DestroyInstance();
    vqCGarbageCollector::DestroyInstance();
    if (m_ownsSockets) cpCQoS::Destroy();
    cpCTimerManager::Destroy();
}

vqRESULT CVyx::Shutdown()
{
    cpNetCleanup();
    return COpenSSL::Cleanup();
}
