#pragma once
// Cuts a byte stream into framed messages and calls a handler per message
// type and subtype, or hands the raw stream to one handler (class id 0x2006,
// also embedded in every protocol layer).
//
// Frame: a 14-byte little-endian header {type u16, subtype u16, six zero
// bytes, payload length u32}, then the payload; senders pad the frame to a
// multiple of 8 bytes and count the padding in the length.

#include "netlib/core/vqCPtrList.h"
#include "netlib/core/vqCRefCounted.h"
#include "netlib/runtime/nwStreamCallbacks.h"

#include <cstdint>

class nwCStreamDispatcher : public vqCRefCounted<vqIUnknown> {
public:
    static constexpr uint32_t kHeaderSize = 14;
    // No protocol of ours sends frames anywhere near this; a longer length is
    // a broken or hostile peer, not a frame to wait for.
    static constexpr uint32_t kMaxPayload = 16u * 1024 * 1024;

    nwCStreamDispatcher() = default;
    ~nwCStreamDispatcher() override;

    virtual vqRESULT RegisterHandler(uint16_t type, uint32_t subtype, nwFrameCallback callback, void* userData);
    virtual vqRESULT Dispatch(const unsigned char* bytes, uint32_t length, int32_t* consumed);

    // A peer's frames may be held to a tighter bound than kMaxPayload; a
    // longer length fails the feed as soon as its header is in.
    void SetMaxPayload(uint32_t maxPayload) { m_maxPayload = maxPayload < kMaxPayload ? maxPayload : kMaxPayload; }

    // From now on every byte goes to this handler and no header is parsed.
    void AddRawHandler(nwRawCallback callback, void* userData);
    // Bytes consumed from the front (0: a frame is incomplete), or negative:
    // a frame no handler takes (or an impossible length); close the connection.
    int32_t Feed(const unsigned char* bytes, uint32_t length);
    // For good: no further message is dispatched, even from a feed in progress.
    void Stop() { m_stopped = true; }
    bool Stopped() const { return m_stopped; }

private:
    struct Handler;
    int32_t Step(const unsigned char* bytes, uint32_t length);

    unsigned char m_header[kHeaderSize] = {};
    vqCPtrList m_handlers;
    bool m_rawMode = false;
    bool m_stopped = false;
    uint32_t m_maxPayload = kMaxPayload;
};
