#include "netlib/runtime/cpResolver.h"

#include "platform/Sockets.h"

#include <atomic>

namespace {
std::atomic<cpResolverFn> g_resolver{&SockResolveHostV4};
} // namespace

void cpSetResolverForTesting(cpResolverFn resolver)
{
    g_resolver.store(resolver ? resolver : &SockResolveHostV4);
}

vqRESULT cpResolveHostAll(const char* name, std::vector<uint32_t>* addresses)
{
    if (!name || !*name || !addresses) return VQ_E_PLATFORM;
    std::vector<uint32_t> answer;
    if (!g_resolver.load()(name, &answer) || answer.empty()) return VQ_E_PLATFORM;
    *addresses = std::move(answer);
    return VQ_OK_PLATFORM;
}

vqRESULT cpResolveHost(const char* name, uint32_t* ip)
{
    std::vector<uint32_t> answer;
    vqRESULT result = cpResolveHostAll(name, &answer);
    if (VQ_FAILED(result)) return result;
    if (ip) *ip = answer.front();
    return VQ_OK_PLATFORM;
}
