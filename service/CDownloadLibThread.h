#pragma once
// The service object: the service thread and the job manager it makes.
//
// Contract: DlInitialize makes one and starts its thread; the thread makes the
// network lock and the job manager (which starts the network runtime),
// signals the start-up event and runs the message loop until the quit
// message or until it finds its running flag cleared. A thread whose runtime
// did not come up stores no job manager and ends at once. DlFinalize stops
// the thread and destroys the object on the application thread.
//
// A thread that does not end in time is abandoned (Abandon): it and this
// object stay alive for good, never freed under it. When such a thread ends
// after all, it destroys its own job manager, and with it the network
// runtime, on its own thread. The runtime exists once per process, so no new
// service may start while an abandoned thread still runs (WaitForAbandoned).

#include "platform/CAutoResetEvent.h"
#include "platform/CPlatformThread.h"

#include <atomic>
#include <memory>

class CJobManager;

class CDownloadLibThread {
public:
    CDownloadLibThread() = default;
    virtual ~CDownloadLibThread();

    // Sets the running flag and starts the thread.
    bool Start(std::shared_ptr<CAutoResetEvent> startupEvent);
    // Clears the running flag, posts the quit message and waits up to
    // timeoutMs; false on timeout.
    bool Stop(DWORD timeoutMs);
    // After a Stop that timed out. True: the thread and this object are left
    // alive for good. False: the thread ended in the meantime, so Stop
    // succeeds now and the object may be destroyed as usual.
    bool Abandon();

    CJobManager* JobManager() const { return m_jobManager.load(); }

    // Waits up to timeoutMs until no abandoned service thread runs any more;
    // false when one still does.
    static bool WaitForAbandoned(DWORD timeoutMs);

private:
    void Run();

    std::atomic<CJobManager*> m_jobManager{nullptr};
    // Read by the message loop on the service thread, cleared by Stop.
    std::atomic<bool> m_running{false};
    CPlatformThread m_thread;
    std::shared_ptr<CAutoResetEvent> m_startupEvent;
    // Guarded by the abandoned-threads lock of the .cpp file.
    bool m_abandoned = false;
    bool m_loopEnded = false;
};
