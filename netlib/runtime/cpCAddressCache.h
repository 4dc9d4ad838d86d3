#pragma once
// Remembers, per host name and port, the addresses the resolver gave and
// which of them worked or failed, so that a connection tries good addresses
// first, new ones next and recently failed ones last.
//
// Contract:
// - GetAddress answers the first address marked good without resolving.
//   Otherwise it resolves again when 5 seconds or more have passed since the
//   last resolution (the first call always resolves), and answers the first
//   address of the list; false (and ip 0) when there is none.
// - A resolution keeps the good addresses (first) and those that failed in
//   the last 30 seconds (last), puts the answer's new addresses between them
//   in the answer's order, and drops every other address. A name that does
//   not resolve keeps the good and the recently failed ones.
// - MarkFailed and MarkGood move a known address to the end of its host's
//   list with the new mark; unknown hosts or addresses are ignored.
// The cache takes its own lock; resolution blocks the caller.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct cpHostAddress {
    uint32_t ip; // network byte order
    uint8_t good;
    uint32_t failedAt; // wall-clock seconds, 0 if never failed
};

struct cpHostEntry {
    std::string host;
    int32_t port = 0;
    uint32_t lastResolved = 0; // wall-clock seconds, 0 before the first resolution
    std::vector<cpHostAddress> addresses;
};

class cpCAddressCache {
public:
    // The process-wide cache the runtime uses.
    static cpCAddressCache& Instance();

    bool GetAddress(const char* host, int32_t port, uint32_t* ip);
    void MarkFailed(const char* host, int32_t port, uint32_t ip);
    void MarkGood(const char* host, int32_t port, uint32_t ip);

    // The addresses of a host in their current order (empty when unknown).
    std::vector<cpHostAddress> Addresses(const char* host, int32_t port);

    static constexpr uint32_t kResolveAgainSeconds = 5;
    static constexpr uint32_t kKeepFailedSeconds = 30;

private:
    static std::string Key(const char* host, int32_t port);
    void Resolve(cpHostEntry& entry);
    void Move(const char* host, int32_t port, uint32_t ip, bool good);

    std::mutex m_mutex;
    std::map<std::string, cpHostEntry> m_entries;
};
