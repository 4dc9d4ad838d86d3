#pragma once
// The service object: the service thread and the job manager it makes.
//
// Contract: DlInitialize makes one and starts its thread; the thread makes the
// network lock and the job manager, signals the start-up event and runs the
// message loop until the quit message or a cleared running flag. DlFinalize
// ends the thread and destroys the object on the application thread. A
// thread that does not end in time is abandoned together with everything it
// may still touch (Abandon), never freed under it.

#include "platform/CAutoResetEvent.h"
#include "platform/CPlatformThread.h"

#include <atomic>
#include <memory>

class CJobManager;

class CDownloadLibThread {
public:
    CDownloadLibThread() = default;
    virtual ~CDownloadLibThread();

    bool Start(std::shared_ptr<CAutoResetEvent> startupEvent);
    // Posts the quit message and waits up to timeoutMs; false on timeout.
    bool Stop(DWORD timeoutMs);
    // Leaves the running thread and this object alive for good.
    void Abandon();

    CJobManager* JobManager() const { return m_jobManager.load(); }
    void SetUserData(const void* userData) { m_userData = userData; }
    const void* UserData() const { return m_userData; }

    static void SetRunning(bool running);

private:
    void Run();

    std::atomic<CJobManager*> m_jobManager{nullptr};
    CPlatformThread m_thread;
    std::shared_ptr<CAutoResetEvent> m_startupEvent;
    const void* m_userData = nullptr;
};
