#pragma once
// One running instance per name, and a way for a later start to wake it.
//
// Contract:
// - Acquire takes an advisory lock (flock) on a file in the user's runtime
//   folder named from `name` ('/' and '%' escaped as %2F and %25, cut to the
//   file-name limit). Owner: the lock is ours until this object is gone or
//   the process ends. AlreadyRunning: another process holds it.
//   Unavailable: the file cannot be made or locked; the caller runs without
//   protection.
// - An owner that calls ListenForActivation hears, on a thread of this
//   object, every ActivateOwner of a later start (onActivate must only queue
//   the request onto the caller's own loop). The listening stops, and the
//   thread ends, before StopListening or the destructor returns.
// - ActivateOwner (AlreadyRunning only) asks the owner to show its window;
//   false when no owner listens.

#include <functional>
#include <string>
#include <thread>

class CSingleInstance {
public:
    enum Result { Owner, AlreadyRunning, Unavailable };

    CSingleInstance() = default;
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    Result Acquire(const std::string& name);
    bool ListenForActivation(std::function<void()> onActivate);
    // Ends the listening; the lock is kept.
    void StopListening();
    bool ActivateOwner() const;

    // The lock file's path for a name (the activation channel is this path
    // with ".activate" added).
    static std::string LockPath(const std::string& name);

private:
    void Listen();

    std::string m_strLockPath;
    int m_lockFd = -1;
    int m_fifoFd = -1;
    int m_keepOpenFd = -1;
    int m_stopFd = -1;
    std::function<void()> m_onActivate;
    std::thread m_listener;
};
