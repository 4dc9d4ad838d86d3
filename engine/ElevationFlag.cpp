#include "engine/ElevationFlag.h"

#include <atomic>

namespace {
std::atomic<unsigned char> g_elevationFlag{0};
}

void SetElevationFlag(unsigned char flag)
{
    g_elevationFlag.store(flag);
}

unsigned char GetElevationFlag()
{
    return g_elevationFlag.load();
}
