#pragma once
// The flat socket functions of the runtime over a cpSocketRecord, and the
// notification functions that tie a record to the socket manager's window.
//
// Contract:
// - Every function answers a result code (vqResult.h): a null record gives
//   0x80210002 and a record without a socket 0x80220004; an operating-system
//   failure gives cpMapSocketError of its error.
// - cpSocketReceive succeeds only when bytes arrived; an orderly close by the
//   peer answers 0x80200000, like any other failure.
// - Stream sockets close with a reset (SO_LINGER on, time 0), never lingering.
// - cpSocketClose closes the socket and frees the record, whatever happens.
// - Notifications: cpSocketSelect asks for WM_USER + 10 + slot to the
//   holder's window with every condition; the one-shot rules of
//   platform/Sockets.h apply. cpSocketUnselect cancels them and gives back
//   the slot; cpSocketRearm asks again for read, write and close;
//   cpSocketPostDeferred posts WM_USER + 9 (wParam slot, lParam record).
// All functions run under the network lock.

#include "netlib/core/vqResult.h"
#include "netlib/runtime/cpADDRESS.h"
#include "netlib/runtime/cpSocketRecord.h"
#include "netlib/runtime/cpWindowHolder.h"
#include "platform/WinTypes.h"

#include <cstdint>

constexpr uint32_t cpSOCKET_STREAM = 0;
constexpr uint32_t cpSOCKET_DATAGRAM = 1;

constexpr int32_t cpSOCKET_SLOTS = 64;
constexpr UINT cpWM_WAKE = WM_USER + 8;
constexpr UINT cpWM_DEFERRED = WM_USER + 9;
constexpr UINT cpWM_SOCKET = WM_USER + 10; // + slot

constexpr long cpSELECT_ALL = 63;   // read, write, out-of-band, accept, connect, close
constexpr long cpSELECT_REARM = 39; // read, write, out-of-band, close

// The result code of a socket error number (platform/SocketTypes.h).
vqRESULT cpMapSocketError(int error);

vqRESULT cpSocketCreate(cpSocketRecord*& record, uint32_t type);
vqRESULT cpSocketConnect(cpSocketRecord* record, const cpADDRESS& address);
vqRESULT cpSocketSend(cpSocketRecord* record, const void* bytes, uint32_t length, int32_t* sent);
vqRESULT cpSocketReceive(cpSocketRecord* record, void* buffer, uint32_t size, int32_t* received);
vqRESULT cpSocketSendTo(cpSocketRecord* record, const void* bytes, uint32_t length, const cpADDRESS& address,
                        int32_t* sent);
// The sender's port comes back in host order.
vqRESULT cpSocketReceiveFrom(cpSocketRecord* record, void* buffer, uint32_t size, cpADDRESS* from,
                             int32_t* received);
vqRESULT cpSocketClose(cpSocketRecord* record);
vqRESULT cpSocketBind(cpSocketRecord* record, const cpADDRESS& address);
vqRESULT cpSocketListen(cpSocketRecord* record);
// The address the socket is bound to (a connected socket's own end).
vqRESULT cpSocketGetLocalAddress(cpSocketRecord* record, cpADDRESS* address);
// Accepts into newRecord (made when null); the peer's port comes back in host
// order, as everywhere else in the runtime.
vqRESULT cpSocketAccept(cpSocketRecord* listening, cpADDRESS* peer, cpSocketRecord*& newRecord);
// flag 1: blocking; anything else: non-blocking.
vqRESULT cpSocketSetBlocking(cpSocketRecord* record, int flag);
// Option 0: broadcast on. Other options: 0x80200000.
vqRESULT cpSocketSetOption(cpSocketRecord* record, int option);

vqRESULT cpSocketSelect(cpWindowHolder* holder, cpSocketRecord* record, int32_t slot);
vqRESULT cpSocketUnselect(cpWindowHolder* holder, cpSocketRecord* record, int32_t* slot);
vqRESULT cpSocketRearm(cpSocketRecord* record);
vqRESULT cpSocketPostDeferred(cpSocketRecord* record);

// The socket library needs no start-up here; both answer 0x40300000.
vqRESULT cpNetStartup();
vqRESULT cpNetCleanup();
