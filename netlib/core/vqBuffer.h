#pragma once
// A borrowed run of bytes handed between layers: the receiver copies what it
// keeps before it returns.

#include <cstdint>

struct vqBUFFER {
    const void* data;
    uint32_t length;
};
