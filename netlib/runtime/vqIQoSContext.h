#pragma once
// One TCP connection with everything the runtime keeps for it: socket, send
// queue, receive buffer, pump strategy, connect timer, idle counter, deferred
// events, host name and address, and the stack of protocol layers (entry 0
// the top, nearest the application; the last entry the bottom, nearest the
// socket).
//
// Contract:
// - Every call is made on the service thread or under the network lock.
// - Owners end a connection by detaching from the top layer, calling Close
//   and handing their reference to the deferred-release collector; they never
//   drop the last reference directly (a layer may be on the call stack).
// - The context owns its layers; a layer keeps a plain pointer back to it.
// - Layer callbacks run from inside these calls: a layer may send, close or
//   post a close from inside any of them.

#include "netlib/core/vqBuffer.h"
#include "netlib/core/vqIUnknown.h"
#include "netlib/runtime/nwStreamCallbacks.h"

#include <cstdint>

struct cpADDRESS;
struct cpSocketRecord;
class nwIQoSNetStack;

// Event mask bits, which are also the event codes.
constexpr uint32_t QOS_EVENT_CONNECT_TIMEOUT = 1;
constexpr uint32_t QOS_EVENT_SEND_DRAINED = 2;
constexpr uint32_t QOS_EVENT_IDLE = 4;
constexpr uint32_t QOS_MEASURE_RECEIVE = 8;
constexpr uint32_t QOS_MEASURE_SEND = 16;
constexpr uint32_t QOS_EVENT_CLOSE_REQUESTED = 32;
constexpr uint32_t QOS_EVENT_PERIODIC = 64;

// SetParam types.
constexpr int QOS_PARAM_CONNECT_TIMEOUT = 1;
constexpr int QOS_PARAM_IDLE_LIMIT = 4;
constexpr int QOS_PARAM_PERIODIC = 64;
constexpr int QOS_PARAM_RECEIVE_ROUND = 128;

enum QoSContextState : int32_t {
    QOS_CREATED = 0,
    QOS_OPENING = 1,
    QOS_OPEN = 2,
    QOS_CONNECTING = 3,
    QOS_CONNECTED = 4,
    QOS_CONNECT_FAILED = 5,
    QOS_SENDING = 6,
    QOS_RECEIVING = 7,
    QOS_QUIET = 8,
    QOS_CLOSING = 9,
    QOS_CLOSED = 10,
};

// Why a connect failed, once the context is in QOS_CONNECT_FAILED.
enum QoSConnectFailure : int32_t {
    QOS_CONNECT_NOT_FAILED = 0,
    QOS_CONNECT_REFUSED = 1,     // the peer refused (nothing listens there)
    QOS_CONNECT_UNREACHABLE = 2, // no route to the host
    QOS_CONNECT_TIMED_OUT = 3,   // no answer within the connect timeout
};

// Every operation answers VQ_OK_PLATFORM unless its line names a failure
// (VQ_E_PLATFORM); "events" are the layer callbacks of nwIQoSNetStack, run
// from inside the call unless they are said to be deferred (queued, then
// delivered through the thread's message loop).
class vqIQoSContext : public vqIUnknown {
public:
    // Only in QOS_CREATED (else fails): registers with the socket manager
    // (fails without one, or when its slots are full) and sets the pump
    // strategy. A record names an accepted socket: the state is then
    // QOS_CONNECTED at once, else QOS_OPEN. No events.
    virtual vqRESULT Open(int actionType, uint32_t eventMask, cpSocketRecord* record) = 0;
    // Any time after Open; fails without a pump strategy. The first limit of
    // a budget applies at once, a changed one from the next scheduler tick.
    virtual vqRESULT SetActionLimit(int direction, const int32_t* value) = 0;
    // Any time; the same type keeps the current strategy (and its budget), an
    // unknown type fails and leaves none.
    virtual vqRESULT SetAction(int actionType) = 0;
    virtual vqRESULT SetEventMask(uint32_t mask) = 0;
    // Ors the bits in only when none of them is set yet.
    virtual vqRESULT AddEventMask(uint32_t bits) = 0;
    virtual vqRESULT RemoveEventMask(uint32_t bits) = 0;
    // Any time. QOS_PARAM_CONNECT_TIMEOUT and QOS_PARAM_IDLE_LIMIT take
    // seconds (read at the next Connect and at every tick); QOS_PARAM_PERIODIC
    // takes four values. QOS_PARAM_RECEIVE_ROUND takes bytes: a receive
    // pump hands what it has to the layers once a run has read that many (at
    // least one read per run; 0, the default, reads until the buffer bound).
    // It lets a connection that wants only an answer's header see it before
    // the body behind it is read. Null or another type fails.
    virtual vqRESULT SetParam(int type, const int32_t* value) = 0;
    // Any time; one of QoSContextState.
    virtual vqRESULT GetState(int32_t* state) = 0;
    // Only in QOS_OPEN (else fails). An immediate connect calls OnConnected
    // from the bottom layer up and sends what was queued; a pending one
    // starts the connect timer (deferred QOS_EVENT_CONNECT_TIMEOUT, then the
    // close); a refused one posts the close. Later: OnConnected, OnReceive,
    // and at the end OnClose.
    virtual vqRESULT Connect(const cpADDRESS& address) = 0;
    // From a layer of this stack: hands the bytes to the layer below it, or
    // queues them for the socket from the bottom layer (as Send). Fails for
    // a layer that is not in the stack.
    virtual vqRESULT SendFromLayer(nwIQoSNetStack* layer, const vqBUFFER& buffer) = 0;
    // Before Connect: makes an object of the class and puts it on top (or at
    // the bottom); fails when the class is unknown or is not a layer.
    virtual vqRESULT AddLayer(uint32_t classId, bool atBottom) = 0;
    // The public interface of the first layer of that class (no reference
    // taken); fails when the stack has none.
    virtual vqRESULT FindLayer(uint32_t classId, vqIUnknown** layer) = 0;
    // Asks the socket to report readiness again (after a budget stop); fails
    // without a socket.
    virtual vqRESULT Rearm() = 0;
    // For a context without layers: frames of that type and subtype go to
    // the callback as they arrive. Fails when the dispatcher cannot be made.
    virtual vqRESULT RegisterFrameHandler(uint16_t type, uint32_t subtype, nwFrameCallback callback,
                                          void* userData) = 0;
    // Any time: the address the address cache marks good or failed.
    virtual vqRESULT SetAddress(const cpADDRESS& address) = 0;
    virtual vqRESULT GetAddress(const cpADDRESS** address) = 0;
    // Any time; ends the connection at once: unregisters and closes the
    // socket, calls OnClose from the bottom layer up, drops what waits to be
    // sent; the state is then QOS_CLOSED. Nothing follows. A second call (or
    // one before Open) does nothing.
    virtual vqRESULT Close() = 0;
    // Any time, also from inside a layer callback: Close, deferred.
    virtual vqRESULT PostClose() = 0;
    // The top layer's object (no reference taken), or null.
    virtual vqIUnknown* GetTopLayer() = 0;
    // From a layer: calls OnConnected of the layer above it (a layer that
    // finished its own handshake); fails for the top layer or a stranger.
    virtual vqRESULT NotifyUpperConnected(nwIQoSNetStack* layer) = 0;
    // From a layer: hands bytes to the layer above it; answers what that
    // layer consumed (0 for the top layer or a stranger).
    virtual int32_t DeliverUp(nwIQoSNetStack* layer, const unsigned char* bytes, uint32_t length) = 0;
    // The buffer being sent now (null when none); no events.
    virtual vqRESULT GetSendBuffer(const unsigned char** bytes, uint32_t* length) = 0;
    // Any time before the close: copies the bytes to the send queue and
    // sends what the socket and the budget allow; QOS_EVENT_SEND_DRAINED
    // whenever the queue runs empty. After a failed connect or a close the
    // bytes are dropped (still VQ_OK_PLATFORM).
    virtual vqRESULT Send(const vqBUFFER& buffer) = 0;
    // Bytes per second since the last call; fails unless QOS_MEASURE_RECEIVE
    // (QOS_MEASURE_SEND) is in the mask.
    virtual vqRESULT GetReceiveRate(uint32_t* bytesPerSecond) = 0;
    virtual vqRESULT GetSendRate(uint32_t* bytesPerSecond) = 0;
    // Bytes queued behind the buffer being sent.
    virtual vqRESULT GetPendingSendBytes(uint32_t* bytes) = 0;
    virtual vqRESULT GetHostName(const char** name) = 0;
    // Fails for null or a name of 256 characters or more (kept unchanged).
    virtual vqRESULT SetHostName(const char* name) = 0;
    // Record the host name and address in the address cache; fail without
    // both.
    virtual vqRESULT MarkAddressGood() = 0;
    virtual vqRESULT MarkAddressFailed() = 0;
    // Once connected: this end's address (the port the peer sees us on);
    // fails without a socket.
    virtual vqRESULT GetLocalAddress(cpADDRESS* address) = 0;
    // Any time; one of QoSConnectFailure (QOS_CONNECT_NOT_FAILED until a
    // connect has failed).
    virtual vqRESULT GetConnectFailure(int32_t* failure) = 0;
};
