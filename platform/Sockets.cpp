#include "platform/Sockets.h"

#include "platform/CSocketWatch.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

namespace {

thread_local int t_lastError = 0;

std::mutex g_watchMutex;
std::map<SOCKET, std::shared_ptr<CSocketWatch>>& Watches()
{
    static auto* watches = new std::map<SOCKET, std::shared_ptr<CSocketWatch>>();
    return *watches;
}

std::shared_ptr<CSocketWatch> FindWatch(SOCKET socket)
{
    std::lock_guard<std::mutex> guard(g_watchMutex);
    auto it = Watches().find(socket);
    return it == Watches().end() ? nullptr : it->second;
}

void AddWatch(SOCKET socket, CSocketWatch::State state)
{
    auto watch = std::make_shared<CSocketWatch>(socket, state);
    std::lock_guard<std::mutex> guard(g_watchMutex);
    Watches()[socket] = std::move(watch);
}

bool Fail(int errnoValue, bool nonBlockingConnect = false)
{
    t_lastError = SockErrorFromErrno(errnoValue, nonBlockingConnect);
    return false;
}

// Calls on descriptors that are not our sockets answer WSAENOTSOCK, as the
// original library does for a handle it does not know.
bool NotSocket()
{
    t_lastError = WSAENOTSOCK;
    return false;
}

bool Known(SOCKET socket)
{
    return (socket >= 0 && FindWatch(socket)) || NotSocket();
}

sockaddr_in ToSockaddr(const SOCKADDR_V4& address)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = address.ip;
    out.sin_port = htons(address.port);
    return out;
}

SOCKADDR_V4 FromSockaddr(const sockaddr_in& in)
{
    return SOCKADDR_V4{in.sin_addr.s_addr, ntohs(in.sin_port)};
}

bool IsNonBlocking(SOCKET socket)
{
    int flags = fcntl(socket, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK);
}

} // namespace

int SockLastError()
{
    return t_lastError;
}

int SockErrorFromErrno(int errnoValue, bool nonBlockingConnect)
{
    switch (errnoValue) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return nonBlockingConnect ? WSAEWOULDBLOCK : WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK:
    case EBADF: return WSAENOTSOCK;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case EINTR: return WSAEINTR;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case EPIPE:
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    default: return WSABASEERR;
    }
}

SOCKET SockCreate(SockType type)
{
    SOCKET socket = type == SockType::Stream ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)
                                             : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        Fail(errno);
        return INVALID_SOCKET;
    }
    AddWatch(socket, CSocketWatch::State::Idle);
    return socket;
}

bool SockClose(SOCKET socket)
{
    std::shared_ptr<CSocketWatch> watch;
    {
        std::lock_guard<std::mutex> guard(g_watchMutex);
        auto it = Watches().find(socket);
        if (it == Watches().end()) {
            t_lastError = WSAENOTSOCK;
            return false;
        }
        watch = std::move(it->second);
        Watches().erase(it);
    }
    // The descriptor leaves every poll set before its number can be reused.
    watch->Close();
    if (::close(socket) != 0 && errno != EINTR) return Fail(errno);
    return true;
}

bool SockSetNonBlocking(SOCKET socket, bool nonBlocking)
{
    if (!Known(socket)) return false;
    int flags = fcntl(socket, F_GETFL);
    if (flags < 0) return Fail(errno);
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (fcntl(socket, F_SETFL, flags) != 0) return Fail(errno);
    return true;
}

bool SockSetLinger(SOCKET socket, bool on, int seconds)
{
    if (!Known(socket)) return false;
    linger value{on ? 1 : 0, seconds};
    if (setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) return Fail(errno);
    return true;
}

bool SockSetReuseAddress(SOCKET socket, bool on)
{
    if (!Known(socket)) return false;
    int value = on ? 1 : 0;
    if (setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) != 0) return Fail(errno);
    return true;
}

bool SockSetBroadcast(SOCKET socket, bool on)
{
    if (!Known(socket)) return false;
    int value = on ? 1 : 0;
    if (setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) return Fail(errno);
    return true;
}

bool SockConnect(SOCKET socket, const SOCKADDR_V4& address)
{
    auto watch = FindWatch(socket);
    if (!watch) return NotSocket();
    sockaddr_in target = ToSockaddr(address);
    const bool nonBlocking = IsNonBlocking(socket);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        watch->OnConnectedAtOnce();
        return true;
    }
    const int error = errno;
    if (nonBlocking && error == EINPROGRESS) {
        watch->OnConnectStarted();
        return Fail(error, true);
    }
    if (nonBlocking && (error == ECONNREFUSED || error == ENETUNREACH || error == EHOSTUNREACH || error == ETIMEDOUT)) {
        // Reported like every other outcome of a non-blocking connect.
        watch->OnConnectFailedAtOnce(SockErrorFromErrno(error, false));
        t_lastError = WSAEWOULDBLOCK;
        return false;
    }
    return Fail(error, nonBlocking);
}

bool SockBind(SOCKET socket, const SOCKADDR_V4& address)
{
    if (!Known(socket)) return false;
    sockaddr_in local = ToSockaddr(address);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return Fail(errno);
    return true;
}

bool SockListen(SOCKET socket, int backlog)
{
    auto watch = FindWatch(socket);
    if (!watch) return NotSocket();
    if (::listen(socket, backlog) != 0) return Fail(errno);
    watch->OnListening();
    return true;
}

SOCKET SockAccept(SOCKET listening, SOCKADDR_V4* peer)
{
    auto watch = FindWatch(listening);
    if (!watch) {
        NotSocket();
        return INVALID_SOCKET;
    }
    sockaddr_in from{};
    socklen_t length = sizeof from;
    SOCKET socket = ::accept4(listening, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    const int error = errno;
    watch->OnAcceptCalled();
    if (socket < 0) {
        Fail(error);
        return INVALID_SOCKET;
    }
    if (peer) *peer = FromSockaddr(from);
    AddWatch(socket, CSocketWatch::State::Connected);
    return socket;
}

bool SockGetLocalAddress(SOCKET socket, SOCKADDR_V4* address)
{
    if (!Known(socket) || !address) return false;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return Fail(errno);
    *address = FromSockaddr(local);
    return true;
}

bool SockGetPeerAddress(SOCKET socket, SOCKADDR_V4* address)
{
    if (!Known(socket) || !address) return false;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return Fail(errno);
    *address = FromSockaddr(peer);
    return true;
}

long SockSend(SOCKET socket, const void* bytes, size_t length)
{
    auto watch = FindWatch(socket);
    if (!watch) {
        NotSocket();
        return -1;
    }
    ssize_t sent = ::send(socket, bytes, length, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) watch->OnSendBlocked();
    Fail(error);
    return -1;
}

long SockRecv(SOCKET socket, void* buffer, size_t size)
{
    auto watch = FindWatch(socket);
    if (!watch) {
        NotSocket();
        return -1;
    }
    ssize_t received = ::recv(socket, buffer, size, 0);
    const int error = errno;
    watch->OnReceiveCalled(received == 0 && size > 0, size > 0 && received == static_cast<ssize_t>(size));
    if (received >= 0) return static_cast<long>(received);
    Fail(error);
    return -1;
}

long SockSendTo(SOCKET socket, const void* bytes, size_t length, const SOCKADDR_V4& address)
{
    auto watch = FindWatch(socket);
    if (!watch) {
        NotSocket();
        return -1;
    }
    sockaddr_in target = ToSockaddr(address);
    ssize_t sent = ::sendto(socket, bytes, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    if (sent >= 0) return static_cast<long>(sent);
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) watch->OnSendBlocked();
    Fail(error);
    return -1;
}

long SockRecvFrom(SOCKET socket, void* buffer, size_t size, SOCKADDR_V4* from)
{
    auto watch = FindWatch(socket);
    if (!watch) {
        NotSocket();
        return -1;
    }
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    ssize_t received = ::recvfrom(socket, buffer, size, 0, reinterpret_cast<sockaddr*>(&sender), &length);
    const int error = errno;
    watch->OnReceiveCalled(false);
    if (received < 0) {
        Fail(error);
        return -1;
    }
    if (from) *from = FromSockaddr(sender);
    return static_cast<long>(received);
}

bool SockAsyncSelect(SOCKET socket, HWND window, UINT message, long mask)
{
    auto watch = FindWatch(socket);
    if (!watch) return NotSocket();
    if (!watch->Select(window, message, mask)) {
        t_lastError = WSAEINVAL;
        return false;
    }
    return true;
}

bool SockResolveHostV4(const char* name, std::vector<uint32_t>* addresses)
{
    if (!name || !*name || !addresses) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &answer) != 0 || !answer) return false;
    addresses->clear();
    for (addrinfo* entry = answer; entry; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || !entry->ai_addr) continue;
        uint32_t ip = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
        if (std::find(addresses->begin(), addresses->end(), ip) == addresses->end()) addresses->push_back(ip);
    }
    freeaddrinfo(answer);
    return !addresses->empty();
}
