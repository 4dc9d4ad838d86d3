#pragma once
// A protocol layer as its connection context sees it (interface id 0x2016).
//
// Contract:
// - The context adopts a layer once (SetContext) and calls it only on the
//   service thread with the network lock held. The layer keeps a plain
//   pointer back to the context and never outlives the context's layer array.
// - Notifications travel bottom-up: OnConnected, OnUnreachable and OnEvent
//   stop at the first layer that answers false; OnClose reaches every layer.
// - OnReceive answers how many bytes it consumed from the front (the rest is
//   offered again with newer bytes); a negative answer closes the connection.
// - A layer may send, close or post a close from inside any notification.
// The forwarding operations do nothing without a context.

#include "netlib/core/vqBuffer.h"
#include "netlib/core/vqIUnknown.h"

#include <cstdint>

struct cpADDRESS;
class vqIQoSContext;

class nwIQoSNetStack : public vqIUnknown {
public:
    void SetContext(vqIQoSContext* context) { m_context = context; }
    vqIQoSContext* Context() const { return m_context; }

    virtual vqRESULT GetReceiveRate(uint32_t* bytesPerSecond);
    virtual vqRESULT GetSendRate(uint32_t* bytesPerSecond);
    // Bytes handed down by the layer above.
    virtual vqRESULT SendDown(const vqBUFFER& buffer) = 0;
    virtual vqRESULT Close();
    virtual bool OnConnected() = 0;
    virtual bool OnUnreachable() = 0;
    virtual bool OnEvent(uint32_t code, int32_t value) = 0;
    virtual int32_t OnReceive(const unsigned char* bytes, uint32_t length) = 0;
    virtual void OnClose() = 0;
    virtual vqRESULT SetEventMask(uint32_t mask);
    virtual vqRESULT AddEventMask(uint32_t bits);
    virtual vqRESULT RemoveEventMask(uint32_t bits);
    virtual vqRESULT Connect(const cpADDRESS& address);
    virtual vqRESULT NotifyUpperConnected();
    // What the layer above consumed; 0 without a context.
    virtual int32_t DeliverUp(const unsigned char* bytes, uint32_t length);
    virtual vqRESULT SendToLower(const vqBUFFER& buffer);

protected:
    vqIQoSContext* m_context = nullptr;
};
