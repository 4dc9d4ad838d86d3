#include "platform/CSingleInstance.h"

#include "platform/UserFolders.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr const char* kActivateSuffix = ".activate";
constexpr char kActivateByte = 'A';

std::string ActivatePath(const std::string& lockPath)
{
    return lockPath + kActivateSuffix;
}

} // namespace

std::string CSingleInstance::LockPath(const std::string& name)
{
    std::string file;
    for (char c : name) {
        if (c == '/') file += "%2F";
        else if (c == '%') file += "%25";
        else file += c;
    }
    // Room for the activation channel's suffix within the file-name limit.
    const size_t limit = NAME_MAX - std::char_traits<char>::length(kActivateSuffix);
    if (file.size() > limit) file.resize(limit);
    return UserRuntimeFolder() + file;
}

CSingleInstance::Result CSingleInstance::Acquire(const std::string& name)
{
    m_strLockPath = LockPath(name);
    m_lockFd = open(m_strLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) return Unavailable;
    if (flock(m_lockFd, LOCK_EX | LOCK_NB) == 0) return Owner;
    const int error = errno;
    close(m_lockFd);
    m_lockFd = -1;
    return error == EWOULDBLOCK ? AlreadyRunning : Unavailable;
}

bool CSingleInstance::ListenForActivation(std::function<void()> onActivate)
{
    if (m_lockFd < 0 || m_listener.joinable()) return false;
    const std::string fifo = ActivatePath(m_strLockPath);
    // A channel left by an owner that crashed is replaced.
    unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0600) != 0) return false;
    m_fifoFd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    // Our own writer keeps the channel from reporting end-of-file after
    // every visitor has closed it.
    m_keepOpenFd = m_fifoFd >= 0 ? open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    m_stopFd = eventfd(0, EFD_CLOEXEC);
    if (m_fifoFd < 0 || m_keepOpenFd < 0 || m_stopFd < 0) return false;
    m_onActivate = std::move(onActivate);
    m_listener = std::thread([this] { Listen(); });
    return true;
}

void CSingleInstance::Listen()
{
    for (;;) {
        pollfd fds[2] = {{m_fifoFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        char bytes[64];
        ssize_t got = read(m_fifoFd, bytes, sizeof bytes);
        for (ssize_t i = 0; i < got; ++i)
            if (bytes[i] == kActivateByte && m_onActivate) m_onActivate();
    }
}

bool CSingleInstance::ActivateOwner() const
{
    if (m_strLockPath.empty()) return false;
    // Opening for writing without blocking fails when nobody reads.
    int fd = open(ActivatePath(m_strLockPath).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool sent = write(fd, &kActivateByte, 1) == 1;
    close(fd);
    return sent;
}

void CSingleInstance::StopListening()
{
    if (m_listener.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = write(m_stopFd, &one, sizeof one);
        m_listener.join();
    }
    if (m_fifoFd >= 0) unlink(ActivatePath(m_strLockPath).c_str());
    for (int* fd : {&m_fifoFd, &m_keepOpenFd, &m_stopFd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

CSingleInstance::~CSingleInstance()
{
    StopListening();
    // The lock file stays: removing it could let a third start lock a new
    // file while a second still holds the old one.
    if (m_lockFd >= 0) close(m_lockFd);
}
