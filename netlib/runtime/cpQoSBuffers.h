#pragma once
// The two buffers a connection context shares with its pump strategy.

#include <cstdint>

// The buffer being sent: data is null when there is none.
struct cpQoSSendBuffer {
    unsigned char* data = nullptr;
    uint32_t offset = 0; // bytes already sent
    uint32_t length = 0;
};

// Bytes received and not yet consumed by the layers.
struct cpQoSReceiveBuffer {
    unsigned char* data = nullptr;
    uint32_t length = 0;
    uint32_t capacity = 0;
};
