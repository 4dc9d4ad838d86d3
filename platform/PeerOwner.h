#pragma once
// Who owns the other end of a loopback TCP connection, from the kernel's
// TCP tables (/proc/net/tcp and /proc/net/tcp6): the engine serves only
// processes of its own user, and the service hands its jobs only to a
// listener of its own user.

#include <cstdint>
#include <sys/types.h>

// The uid that owns the socket bound to 127.0.0.1:peerPort and connected to
// 127.0.0.1:localPort, or -1 when the tables hold no such socket.
long PeerOwner(uint16_t peerPort, uint16_t localPort);
