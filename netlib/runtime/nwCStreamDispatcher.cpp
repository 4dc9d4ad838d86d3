#include "netlib/runtime/nwCStreamDispatcher.h"

#include <cstring>

struct nwCStreamDispatcher::Handler {
    bool typed;
    uint16_t type;
    uint32_t subtype;
    nwFrameCallback frameCallback;
    nwRawCallback rawCallback;
    void* userData;
};

nwCStreamDispatcher::~nwCStreamDispatcher()
{
    while (m_handlers.GetCount() > 0) delete static_cast<Handler*>(m_handlers.RemoveAt(0));
}

vqRESULT nwCStreamDispatcher::RegisterHandler(uint16_t type, uint32_t subtype, nwFrameCallback callback, void* userData)
{
    m_handlers.AddTail(new Handler{true, type, subtype, callback, nullptr, userData});
    return VQ_OK_NETWORK;
}

void nwCStreamDispatcher::AddRawHandler(nwRawCallback callback, void* userData)
{
    m_handlers.AddTail(new Handler{false, 0, 0, nullptr, callback, userData});
    m_rawMode = true;
}

vqRESULT nwCStreamDispatcher::Dispatch(const unsigned char* bytes, uint32_t length, int32_t* consumed)
{
    int32_t result = Feed(bytes, length);
    if (consumed) *consumed = result;
    return VQ_OK_NETWORK;
}

int32_t nwCStreamDispatcher::Feed(const unsigned char* bytes, uint32_t length)
{
    int32_t consumed = 0;
    while (length > 0) {
        if (m_stopped) return consumed;
        int32_t step = Step(bytes, length);
        if (step == 0) break;
        // A handler claiming more than it was offered is broken: treat it as
        // a protocol failure rather than walk past the buffer.
        if (step < 0 || static_cast<uint32_t>(step) > length) return -1;
        consumed += step;
        bytes += step;
        length -= static_cast<uint32_t>(step);
    }
    return consumed;
}

int32_t nwCStreamDispatcher::Step(const unsigned char* bytes, uint32_t length)
{
    if (!bytes || length == 0) return 0;
    uint16_t type = 0;
    uint32_t subtype = 0;
    uint32_t payload = 0;
    if (!m_rawMode) {
        if (length < kHeaderSize) return 0;
        memcpy(m_header, bytes, kHeaderSize);
        type = static_cast<uint16_t>(m_header[0] | m_header[1] << 8);
        subtype = static_cast<uint32_t>(m_header[2] | m_header[3] << 8);
        payload = uint32_t(m_header[10]) | uint32_t(m_header[11]) << 8 | uint32_t(m_header[12]) << 16 |
                  uint32_t(m_header[13]) << 24;
        if (payload > m_maxPayload) return -1;
        if (length - kHeaderSize < payload) return 0;
    }
    for (int32_t i = 0; i < m_handlers.GetCount(); ++i) {
        const Handler* handler = static_cast<const Handler*>(m_handlers.GetAt(i));
        if (!handler->typed) return handler->rawCallback(bytes, length, handler->userData);
        if (m_rawMode || handler->type != type || handler->subtype != subtype) continue;
        handler->frameCallback(bytes + kHeaderSize, payload, handler->userData);
        return static_cast<int32_t>(kHeaderSize + payload);
    }
    return -1;
}
