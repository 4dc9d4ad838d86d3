#pragma once
// Host name resolution for the runtime: IPv4 only, answers in the resolver's
// order. The resolver is replaceable so that tests never touch the network.
//
// Contract: both functions block while the name is resolved and answer
// 0x40200000, or 0x80200000 when the name (null or empty included) does not
// resolve to any address.

#include "netlib/core/vqResult.h"

#include <cstdint>
#include <vector>

// Fills addresses (network byte order) and answers true, or answers false.
typedef bool (*cpResolverFn)(const char* name, std::vector<uint32_t>* addresses);
// Null restores the system resolver.
void cpSetResolverForTesting(cpResolverFn resolver);

// The first address of the answer.
vqRESULT cpResolveHost(const char* name, uint32_t* ip);
// Every address of the answer, in its order.
vqRESULT cpResolveHostAll(const char* name, std::vector<uint32_t>* addresses);
