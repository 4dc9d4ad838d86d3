#include "service/CDownloadLibThread.h"

#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqLog.h"
#include "netlib/core/vqSmartPtr.h"
#include "platform/MessageLoop.h"
#include "service/ActivityLog.h"
#include "service/CJobManager.h"

#include <mutex>
#include <vector>

namespace {

std::atomic<bool> g_running{false};

// Abandoned service objects stay reachable here: their threads may still run.
std::mutex g_abandonedMutex;
std::vector<CDownloadLibThread*>& Abandoned()
{
    static auto* abandoned = new std::vector<CDownloadLibThread*>();
    return *abandoned;
}

} // namespace

void CDownloadLibThread::SetRunning(bool running)
{
    g_running.store(running);
}

CDownloadLibThread::~CDownloadLibThread()
{
    delete m_jobManager.exchange(nullptr);
}

bool CDownloadLibThread::Start(std::shared_ptr<CAutoResetEvent> startupEvent)
{
    m_startupEvent = std::move(startupEvent);
    return m_thread.Start([this] { Run(); });
}

void CDownloadLibThread::Run()
{
    vqSetLogSink(&LogWrite);
    vqSmartPtr lock;
    lock.CreateInstance(CLSID_cpCMutex);
    cpCMutex* networkLock = lock.As<cpCMutex>();
    networkLock->Lock();
    CJobManager* manager = new CJobManager(networkLock);
    m_jobManager.store(manager);
    if (m_startupEvent) m_startupEvent->Set();
    networkLock->Unlock();

    MSG msg;
    while (GetMessage(&msg) > 0) {
        if (!g_running.load()) break;
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
    LogWrite("[MeshpullLib] Exit GetMessage Loop");
    manager->ShutdownRuntime();
}

bool CDownloadLibThread::Stop(DWORD timeoutMs)
{
    PostThreadMessage(m_thread.ThreadId(), WM_QUIT, 0, 0);
    return m_thread.WaitForEnd(timeoutMs);
}

void CDownloadLibThread::Abandon()
{
    m_thread.Abandon();
    std::lock_guard<std::mutex> guard(g_abandonedMutex);
    Abandoned().push_back(this);
}
