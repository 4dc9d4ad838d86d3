#pragma once
// An IPv4 endpoint as the runtime passes it around.

#include <cstdint>

struct cpADDRESS {
    uint32_t ip;   // network byte order, exactly as the resolver answers it
    uint16_t port; // host byte order
};
