#pragma once
// The slowest HTTP transfer of the service that is not a stall, for the
// plain path's files and the file-list fetch alike: fewer than
// kTransferFloorBytes in kTransferFloorWindowMs (1 KiB/s) and the attempt
// has failed. A server that trickles a byte now and then never trips an
// idle limit.

#include <cstdint>

constexpr int64_t kTransferFloorBytes = 30 * 1024;
constexpr int64_t kTransferFloorWindowMs = 30000;
