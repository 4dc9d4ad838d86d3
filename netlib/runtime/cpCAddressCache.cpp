#include "netlib/runtime/cpCAddressCache.h"

#include "netlib/core/cpClock.h"
#include "netlib/runtime/cpResolver.h"

#include <algorithm>
#include <cstdio>

namespace {

bool Holds(const std::vector<cpHostAddress>& group, uint32_t ip)
{
    return std::any_of(group.begin(), group.end(), [ip](const cpHostAddress& a) { return a.ip == ip; });
}

} // namespace

cpCAddressCache& cpCAddressCache::Instance()
{
    static cpCAddressCache cache;
    return cache;
}

std::string cpCAddressCache::Key(const char* host, int32_t port)
{
    char portText[16];
    std::snprintf(portText, sizeof portText, ":%d", port);
    return std::string(host) + portText;
}

void cpCAddressCache::Resolve(cpHostEntry& entry)
{
    uint32_t now;
    cpGetTime(&now);
    std::vector<cpHostAddress> good, recentlyFailed, fresh;
    for (const cpHostAddress& address : entry.addresses) {
        if (address.good) good.push_back(address);
        else if (address.failedAt != 0 && now - address.failedAt <= kKeepFailedSeconds) recentlyFailed.push_back(address);
    }
    std::vector<uint32_t> answer;
    if (VQ_SUCCEEDED(cpResolveHostAll(entry.host.c_str(), &answer))) {
        for (uint32_t ip : answer)
            if (!Holds(good, ip) && !Holds(recentlyFailed, ip) && !Holds(fresh, ip)) fresh.push_back({ip, 0, 0});
    }
    // Also after a failed resolution, so that a name that does not resolve
    // is not looked up again on every call.
    entry.lastResolved = now;
    entry.addresses = std::move(good);
    entry.addresses.insert(entry.addresses.end(), fresh.begin(), fresh.end());
    entry.addresses.insert(entry.addresses.end(), recentlyFailed.begin(), recentlyFailed.end());
}

bool cpCAddressCache::GetAddress(const char* host, int32_t port, uint32_t* ip)
{
    if (ip) *ip = 0;
    if (!host || !*host) return false;
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::string key = Key(host, port);
    auto it = m_entries.find(key);
    if (it == m_entries.end()) {
        cpHostEntry created;
        created.host = host;
        created.port = port;
        it = m_entries.emplace(key, std::move(created)).first;
        Resolve(it->second);
    }
    cpHostEntry& entry = it->second;
    for (const cpHostAddress& address : entry.addresses) {
        if (!address.good) continue;
        if (ip) *ip = address.ip;
        return true;
    }
    uint32_t now;
    cpGetTime(&now);
    if (now - entry.lastResolved >= kResolveAgainSeconds) Resolve(entry);
    if (entry.addresses.empty()) return false;
    if (ip) *ip = entry.addresses.front().ip;
    return true;
}

void cpCAddressCache::Move(const char* host, int32_t port, uint32_t ip, bool good)
{
    if (!host) return;
    std::lock_guard<std::mutex> guard(m_mutex);
    auto it = m_entries.find(Key(host, port));
    if (it == m_entries.end()) return;
    auto& addresses = it->second.addresses;
    auto found = std::find_if(addresses.begin(), addresses.end(), [ip](const cpHostAddress& a) { return a.ip == ip; });
    if (found == addresses.end()) return;
    cpHostAddress moved = *found;
    addresses.erase(found);
    moved.good = good ? 1 : 0;
    if (good) {
        moved.failedAt = 0;
    } else {
        cpGetTime(&moved.failedAt);
    }
    addresses.push_back(moved);
}

void cpCAddressCache::MarkFailed(const char* host, int32_t port, uint32_t ip)
{
    Move(host, port, ip, false);
}

void cpCAddressCache::MarkGood(const char* host, int32_t port, uint32_t ip)
{
    Move(host, port, ip, true);
}

std::vector<cpHostAddress> cpCAddressCache::Addresses(const char* host, int32_t port)
{
    if (!host) return {};
    std::lock_guard<std::mutex> guard(m_mutex);
    auto it = m_entries.find(Key(host, port));
    return it == m_entries.end() ? std::vector<cpHostAddress>{} : it->second.addresses;
}
