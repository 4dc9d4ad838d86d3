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

class vqIQoSContext : public vqIUnknown {
public:
    virtual vqRESULT Open(int actionType, uint32_t eventMask, cpSocketRecord* record) = 0;
    virtual vqRESULT SetActionLimit(int direction, const int32_t* value) = 0;
    virtual vqRESULT SetAction(int actionType) = 0;
    virtual vqRESULT SetEventMask(uint32_t mask) = 0;
    // Ors the bits in only when none of them is set yet.
    virtual vqRESULT AddEventMask(uint32_t bits) = 0;
    virtual vqRESULT RemoveEventMask(uint32_t bits) = 0;
    // QOS_PARAM_CONNECT_TIMEOUT and QOS_PARAM_IDLE_LIMIT take seconds;
    // QOS_PARAM_PERIODIC takes four values.
    virtual vqRESULT SetParam(int type, const int32_t* value) = 0;
    virtual vqRESULT GetState(int32_t* state) = 0;
    virtual vqRESULT Connect(const cpADDRESS& address) = 0;
    virtual vqRESULT SendFromLayer(nwIQoSNetStack* layer, const vqBUFFER& buffer) = 0;
    virtual vqRESULT AddLayer(uint32_t classId, bool atBottom) = 0;
    // The public interface of the first layer of that class (no reference taken).
    virtual vqRESULT FindLayer(uint32_t classId, vqIUnknown** layer) = 0;
    virtual vqRESULT Rearm() = 0;
    virtual vqRESULT RegisterFrameHandler(uint16_t type, uint32_t subtype, nwFrameCallback callback,
                                          void* userData) = 0;
    virtual vqRESULT SetAddress(const cpADDRESS& address) = 0;
    virtual vqRESULT GetAddress(const cpADDRESS** address) = 0;
    virtual vqRESULT Close() = 0;
    virtual vqRESULT PostClose() = 0;
    virtual vqIUnknown* GetTopLayer() = 0;
    virtual vqRESULT NotifyUpperConnected(nwIQoSNetStack* layer) = 0;
    virtual int32_t DeliverUp(nwIQoSNetStack* layer, const unsigned char* bytes, uint32_t length) = 0;
    virtual vqRESULT GetSendBuffer(const unsigned char** bytes, uint32_t* length) = 0;
    virtual vqRESULT Send(const vqBUFFER& buffer) = 0;
    virtual vqRESULT GetReceiveRate(uint32_t* bytesPerSecond) = 0;
    virtual vqRESULT GetSendRate(uint32_t* bytesPerSecond) = 0;
    virtual vqRESULT GetPendingSendBytes(uint32_t* bytes) = 0;
    virtual vqRESULT GetHostName(const char** name) = 0;
    virtual vqRESULT SetHostName(const char* name) = 0;
    virtual vqRESULT MarkAddressGood() = 0;
    virtual vqRESULT MarkAddressFailed() = 0;
};
