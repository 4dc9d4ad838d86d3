#include "platform/Connectivity.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <atomic>

namespace {

bool InterfaceCheck()
{
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool found = false;
    for (const struct ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_RUNNING) || (flags & IFF_LOOPBACK) || !entry->ifa_addr) continue;
        const int family = entry->ifa_addr->sa_family;
        found = family == AF_INET || family == AF_INET6;
    }
    freeifaddrs(list);
    return found;
}

std::atomic<ConnectivityCheckFn> g_check{&InterfaceCheck};

} // namespace

bool HasInternetConnection()
{
    return g_check.load()();
}

void SetConnectivityCheckForTesting(ConnectivityCheckFn check)
{
    g_check.store(check ? check : &InterfaceCheck);
}
