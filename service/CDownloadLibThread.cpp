#include "service/CDownloadLibThread.h"

#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqLog.h"
#include "netlib/core/vqSmartPtr.h"
#include "platform/MessageLoop.h"
#include "engine/ActivityLog.h"
#include "service/CJobManager.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

// Protects every service object's abandoned and loop-ended marks, the count
// and the list below.
std::mutex g_abandonedMutex;
std::condition_variable g_abandonedEnded;
int g_abandonedRunning = 0;
// Abandoned service objects stay reachable here for good: their threads may
// still touch them.
std::vector<CDownloadLibThread*>& Abandoned()
{
    static auto* abandoned = new std::vector<CDownloadLibThread*>();
    return *abandoned;
}

} // namespace

CDownloadLibThread::~CDownloadLibThread()
{
    delete m_jobManager.exchange(nullptr);
}

bool CDownloadLibThread::Start(std::shared_ptr<CAutoResetEvent> startupEvent)
{
    m_startupEvent = std::move(startupEvent);
    m_running.store(true);
    return m_thread.Start([this] { Run(); });
}

void CDownloadLibThread::Run()
{
    vqSetLogSink(&LogWrite);
    vqSmartPtr lock;
    lock.CreateInstance(CLSID_cpCMutex);
    cpCMutex* networkLock = lock.As<cpCMutex>();
    networkLock->Lock();
    auto* manager = new CJobManager(networkLock);
    const bool runtimeUp = manager->RuntimeStarted();
    if (runtimeUp) m_jobManager.store(manager);
    if (m_startupEvent) m_startupEvent->Set();
    networkLock->Unlock();
    if (runtimeUp) {
        MSG msg;
        while (GetMessage(&msg) > 0) {
            if (!m_running.load()) break;
            TranslateMessage(&msg);
            DispatchMessage(&msg);
        }
        LogWrite("[MeshpullLib] Exit GetMessage Loop");
        manager->ShutdownRuntime();
    } else {
        // DlInitialize answers a failure; a service without sockets and
        // timers would accept jobs it can never run.
        delete manager;
    }

    {
        std::lock_guard<std::mutex> guard(g_abandonedMutex);
        m_loopEnded = true;
        if (!m_abandoned) return; // DlFinalize destroys the job manager
    }
    // Nobody else will: the runtime goes with it, so the next service can
    // start its own.
    delete m_jobManager.exchange(nullptr);
    {
        std::lock_guard<std::mutex> guard(g_abandonedMutex);
        --g_abandonedRunning;
    }
    g_abandonedEnded.notify_all();
}

bool CDownloadLibThread::Stop(DWORD timeoutMs)
{
    m_running.store(false);
    PostThreadMessage(m_thread.ThreadId(), WM_QUIT, 0, 0);
    return m_thread.WaitForEnd(timeoutMs);
}

bool CDownloadLibThread::Abandon()
{
    {
        std::lock_guard<std::mutex> guard(g_abandonedMutex);
        if (!m_loopEnded) {
            m_abandoned = true;
            ++g_abandonedRunning;
            Abandoned().push_back(this);
            m_thread.Abandon();
            return true;
        }
    }
    // Only the thread's last steps remain.
    m_thread.WaitForEnd(INFINITE_WAIT);
    return false;
}

bool CDownloadLibThread::WaitForAbandoned(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> guard(g_abandonedMutex);
    return g_abandonedEnded.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                     [] { return g_abandonedRunning == 0; });
}
