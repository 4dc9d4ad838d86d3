#pragma once
// Names the socket manager's hidden window for the socket records that post
// to it. The manager keeps one holder for the life of the process and clears
// its window at shut-down, so a record that outlives the manager posts to
// nobody instead of through a freed holder.

#include "platform/WinTypes.h"

#include <cstdint>

struct cpWindowHolder {
    HWND window;
    uintptr_t reserved; // always 0
};
