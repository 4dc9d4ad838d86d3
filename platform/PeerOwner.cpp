#include "platform/PeerOwner.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// Lines look like "  1: 0100007F:9476 0100007F:BC2A 01 ... uid ...": the
// local address, the remote address, the state, then queues, timers,
// retransmits and the owner's uid.
long Search(const char* table, uint16_t peerPort, uint16_t localPort)
{
    FILE* file = fopen(table, "r");
    if (!file) return -1;
    char line[512];
    long owner = -1;
    if (!fgets(line, sizeof line, file)) {
        fclose(file);
        return -1;
    }
    while (owner < 0 && fgets(line, sizeof line, file)) {
        char local[64], remote[64];
        unsigned state = 0, uid = 0;
        char skip[64];
        if (sscanf(line, " %*[^:]: %63s %63s %x %63s %63s %63s %u", local, remote, &state, skip, skip, skip, &uid) !=
            7)
            continue;
        const char* localColon = strrchr(local, ':');
        const char* remoteColon = strrchr(remote, ':');
        if (!localColon || !remoteColon) continue;
        unsigned lp = 0, rp = 0;
        if (sscanf(localColon + 1, "%x", &lp) != 1 || sscanf(remoteColon + 1, "%x", &rp) != 1) continue;
        // Only the loopback address, as IPv4 or IPv4-mapped IPv6.
        const std::string_view la(local, static_cast<size_t>(localColon - local));
        const bool loopback = la == "0100007F" || la == "0000000000000000FFFF00000100007F";
        if (loopback && lp == peerPort && rp == localPort) owner = static_cast<long>(uid);
    }
    fclose(file);
    return owner;
}

} // namespace

long PeerOwner(uint16_t peerPort, uint16_t localPort)
{
    long owner = Search("/proc/net/tcp", peerPort, localPort);
    if (owner < 0) owner = Search("/proc/net/tcp6", peerPort, localPort);
    return owner;
}
