#pragma once
// Result codes of the network library. Bit 31: failure; bit 30: success;
// bits 20-27: the area that answered; bits 0-19: the condition. Callers test
// success with VQ_SUCCEEDED and recognise a condition by its low 20 bits,
// whatever the area.

#include <cstdint>

typedef uint32_t vqRESULT;

constexpr vqRESULT VQ_OK = 0x40000000;               // reference-count operations
constexpr vqRESULT VQ_OK_PLATFORM = 0x40200000;      // sockets, timers, locks, clocks
constexpr vqRESULT VQ_OK_NETWORK = 0x40300000;       // start-up, layers, dispatcher
constexpr vqRESULT VQ_OK_UTILITY = 0x40600000;       // URI codec
constexpr vqRESULT VQ_E_NOINTERFACE = 0x80010001;
constexpr vqRESULT VQ_E_PLATFORM = 0x80200000;
constexpr vqRESULT VQ_E_NO_SOCKET_RECORD = 0x80210002;
constexpr vqRESULT VQ_E_NOT_SOCKET = 0x80220004;
constexpr vqRESULT VQ_E_CONNREFUSED = 0x80220005;
constexpr vqRESULT VQ_E_ALREADY = 0x80220006;
constexpr vqRESULT VQ_E_SOCKET_EXISTS = 0x80220007;
constexpr vqRESULT VQ_E_NOBUFS = 0x80220008;
constexpr vqRESULT VQ_E_INPROGRESS = 0x80220009;
constexpr vqRESULT VQ_E_WOULDBLOCK = 0x8022000A;
constexpr vqRESULT VQ_E_NETWORK = 0x80300000;
constexpr vqRESULT VQ_E_UTILITY = 0x80600000;

constexpr bool VQ_SUCCEEDED(vqRESULT code) { return (code & 0x40000000u) != 0; }
constexpr bool VQ_FAILED(vqRESULT code) { return (code & 0x80000000u) != 0; }
constexpr uint32_t VQ_CONDITION(vqRESULT code) { return code & 0xFFFFFu; }
constexpr bool VQ_IS_WOULDBLOCK(vqRESULT code) { return VQ_CONDITION(code) == 0x2000Au; }
