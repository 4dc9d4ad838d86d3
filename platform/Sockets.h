#pragma once
// Socket functions of the platform layer: IPv4 TCP and UDP sockets, host
// name resolution, and asynchronous notifications delivered as window
// messages.
//
// Contract:
// - Every function may be called from any thread. A failing call answers
//   false (or INVALID_SOCKET, or -1 for a byte count) and leaves its error
//   for SockLastError on the calling thread.
// - Sockets are close-on-exec, and sends never raise SIGPIPE.
// - A non-blocking connect that cannot finish at once answers WSAEWOULDBLOCK;
//   so does one that fails at once with refused, unreachable or timed out:
//   that outcome arrives as the FD_CONNECT notification, as for any other
//   non-blocking connect.
// - SockAsyncSelect(socket, window, message, mask) asks for notifications:
//   each becomes PostMessage(window, message, socket, MakeSelectReply(code,
//   error)) in the queue of the thread that made the window. A mask of 0
//   cancels them; notifications already queued stay queued (the receiver
//   checks at dispatch whether it still wants them). The one-shot rules:
//     FD_READ    when unread data (or an orderly close with data still unread)
//                waits and no read notification is outstanding; SockRecv
//                re-enables it and reports again at once if data still waits.
//     FD_WRITE   once when a connect completes successfully, and afterwards
//                only when a send answered WSAEWOULDBLOCK and the socket can
//                take data again. A new SockAsyncSelect on a connected socket
//                reports it anew as soon as the socket can take data.
//     FD_CONNECT once, when a non-blocking connect completes, with its error
//                (0 on success); never again for the socket.
//     FD_CLOSE   once, when the peer has reset the connection, or has closed
//                it and every byte it sent has been received; not re-enabled.
//     FD_ACCEPT  when a connection waits on a listening socket; SockAccept
//                re-enables it.
//     FD_OOB     never reported: out-of-band data is not used.
//   Nothing runs on another thread: the owner's message loop delivers every
//   notification in order with its other messages.

#include "platform/SocketTypes.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <vector>

// The error of the calling thread's last failed socket call.
int SockLastError();
// The error number of a system errno value; nonBlockingConnect names the
// answer of a connect on a non-blocking socket.
int SockErrorFromErrno(int errnoValue, bool nonBlockingConnect);

SOCKET SockCreate(SockType type);
bool SockClose(SOCKET socket);
bool SockSetNonBlocking(SOCKET socket, bool nonBlocking);
bool SockSetLinger(SOCKET socket, bool on, int seconds);
bool SockSetReuseAddress(SOCKET socket, bool on);
bool SockSetBroadcast(SOCKET socket, bool on);

bool SockConnect(SOCKET socket, const SOCKADDR_V4& address);
bool SockBind(SOCKET socket, const SOCKADDR_V4& address);
bool SockListen(SOCKET socket, int backlog);
// The peer's address (port in host order) goes to *peer when not null.
SOCKET SockAccept(SOCKET listening, SOCKADDR_V4* peer);
bool SockGetLocalAddress(SOCKET socket, SOCKADDR_V4* address);
bool SockGetPeerAddress(SOCKET socket, SOCKADDR_V4* address);

// Byte counts; -1 on failure. SockRecv answers 0 for an orderly close.
long SockSend(SOCKET socket, const void* bytes, size_t length);
long SockRecv(SOCKET socket, void* buffer, size_t size);
long SockSendTo(SOCKET socket, const void* bytes, size_t length, const SOCKADDR_V4& address);
long SockRecvFrom(SOCKET socket, void* buffer, size_t size, SOCKADDR_V4* from);

bool SockAsyncSelect(SOCKET socket, HWND window, UINT message, long mask);

// Every IPv4 address of a host name (or dotted address), in the resolver's
// order, without repeats. False when the name does not resolve.
bool SockResolveHostV4(const char* name, std::vector<uint32_t>* addresses);
