#pragma once
// One operating-system socket as the socket functions keep it. Made and freed
// by the socket functions (cpSocketCreate / cpSocketAccept, cpSocketClose).

#include "netlib/runtime/cpADDRESS.h"
#include "netlib/runtime/cpWindowHolder.h"
#include "platform/SocketTypes.h"

#include <cstdint>

struct cpSocketRecord {
    // INVALID_SOCKET until a socket is made; descriptor 0 is a valid socket here.
    SOCKET socket = INVALID_SOCKET;
    uint32_t type = 0; // 0 stream (TCP), 1 datagram (UDP)
    cpADDRESS address{}; // the last address used
    int32_t addressLength = 0;
    uint32_t nonBlockingArgument = 0;
    int32_t slot = -1; // index in the socket manager's table, -1 when not registered
    cpWindowHolder* window = nullptr;
};
