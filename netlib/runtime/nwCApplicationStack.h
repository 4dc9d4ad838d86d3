#pragma once
// The common base of every protocol layer: event routing to named handlers,
// the embedded stream dispatcher that receives for the layer, and the frame
// helpers of the binary protocols.
//
// Contract for subclasses: OnConnected and OnClosed are theirs to supply;
// OnConnectTimeout, OnSendDrained, OnIdleTimeout and OnPeriodic answer true
// (let the layers above see the event) unless overridden. OnClosed runs once
// the dispatcher has been stopped for good, so no message is dispatched after
// it, not even from a delivery in progress.

#include "netlib/runtime/nwCStreamDispatcher.h"
#include "netlib/runtime/nwIQoSNetStack.h"

#include <cstdint>

class nwCApplicationStack : public nwIQoSNetStack {
public:
    ~nwCApplicationStack() override = default;

    vqRESULT SendDown(const vqBUFFER& buffer) override;
    bool OnUnreachable() override { return true; }
    bool OnEvent(uint32_t code, int32_t value) override;
    int32_t OnReceive(const unsigned char* bytes, uint32_t length) override;
    void OnClose() override;

    virtual void OnClosed() = 0;
    virtual bool OnConnectTimeout() { return true; }
    virtual bool OnSendDrained() { return true; }
    virtual bool OnIdleTimeout() { return true; }
    virtual bool OnPeriodic() { return true; }

    // A zero-filled block for a frame with payloadLength bytes, padded to a
    // multiple of 8; answers the payload's address (14 bytes into the block).
    static unsigned char* AllocFrame(uint32_t payloadLength);
    // Writes the header in front of a payload from AllocFrame, sends the whole
    // padded frame to the layer below and frees the block.
    vqRESULT SendFrame(uint32_t subtype, unsigned char* payload, uint32_t payloadLength, uint16_t type);
    static uint32_t FrameSize(uint32_t payloadLength) { return (payloadLength + 14 + 7) / 8 * 8; }

protected:
    nwCStreamDispatcher m_dispatcher;
};
