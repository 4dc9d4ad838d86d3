#pragma once
// Types and numbers of the platform's socket functions (Sockets.h). Errors
// and notification codes keep the numbers of the socket library the runtime
// was written for, so the layers above compare them as they always did.

#include <cstdint>

typedef int SOCKET;
constexpr SOCKET INVALID_SOCKET = -1;

// An IPv4 endpoint: ip in network byte order, port in host byte order.
struct SOCKADDR_V4 {
    uint32_t ip;
    uint16_t port;
};

enum class SockType { Stream, Datagram };

// Notification codes: the low 16 bits of a notification's lParam.
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

// A notification's lParam: the code in the low 16 bits, the error in the high 16.
constexpr intptr_t MakeSelectReply(long event, int error)
{
    return static_cast<intptr_t>((static_cast<uint32_t>(error) << 16) | (static_cast<uint32_t>(event) & 0xFFFFu));
}

// Error numbers answered by SockLastError and carried by notifications.
constexpr int WSABASEERR = 10000; // an error without a counterpart below
constexpr int WSAEINTR = 10004;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
