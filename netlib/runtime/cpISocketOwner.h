#pragma once
// What the socket manager (cpCQoS) calls on the object that owns a registered
// socket: the connection context.
//
// Contract:
// - Every call runs on the service thread, from the manager's window
//   procedure or its one-second tick, with the network lock held, one at a
//   time.
// - The manager's slot holds one reference on the owner from RegisterContext
//   to UnregisterContext, and a further reference for the duration of each
//   call, so an owner may unregister itself, close, or drop every reference
//   of its own inside any call; it is destroyed after the call returns.
// - Socket conditions arrive as: OnReadable (data waiting), OnWritable (the
//   socket takes data again), OnConnected, OnConnectFailed (refused),
//   OnConnectUnreachable, OnAccept, Close (the peer closed or reset the
//   connection). A connect that fails otherwise (timed out, ...) raises no
//   call: the owner's own connect timer ends the attempt.
// - OnDeferredEvent(record) answers one WM_USER + 9 message the owner posted
//   with cpSocketPostDeferred; record is the record it was posted for, which
//   may no longer be the owner's (compare, never dereference a stale one).
// - OnSchedulerTick runs once a second for every registered owner, in slot
//   order; the two totals are shared by all owners of that tick.

#include "netlib/core/vqIUnknown.h"
#include "netlib/runtime/cpSocketRecord.h"

#include <cstdint>

class cpISocketOwner : public vqIUnknown {
public:
    virtual void OnReadable() = 0;
    virtual void OnWritable() = 0;
    virtual void OnConnected() = 0;
    virtual void OnConnectFailed() = 0;
    virtual void OnConnectUnreachable() = 0;
    virtual void OnAccept() = 0;
    virtual vqRESULT Close() = 0;
    virtual void OnDeferredEvent(cpSocketRecord* record) = 0;
    virtual void OnSchedulerTick(uint32_t& receivedTotal, uint32_t& sentTotal) = 0;
};
