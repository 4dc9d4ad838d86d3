#include "netlib/runtime/nwCApplicationStack.h"

#include <cstring>
#include <memory>

vqRESULT nwCApplicationStack::SendDown(const vqBUFFER&)
{
    return VQ_OK_NETWORK;
}

bool nwCApplicationStack::OnEvent(uint32_t code, int32_t)
{
    switch (code) {
    case 1:
        return OnConnectTimeout();
    case 2:
        return OnSendDrained();
    case 4:
        return OnIdleTimeout();
    case 64:
        return OnPeriodic();
    default:
        return true;
    }
}

int32_t nwCApplicationStack::OnReceive(const unsigned char* bytes, uint32_t length)
{
    return m_dispatcher.Feed(bytes, length);
}

void nwCApplicationStack::OnClose()
{
    m_dispatcher.Stop();
    OnClosed();
}

unsigned char* nwCApplicationStack::AllocFrame(uint32_t payloadLength)
{
    uint32_t total = FrameSize(payloadLength);
    unsigned char* block = new unsigned char[total]();
    return block + nwCStreamDispatcher::kHeaderSize;
}

vqRESULT nwCApplicationStack::SendFrame(uint32_t subtype, unsigned char* payload, uint32_t payloadLength, uint16_t type)
{
    std::unique_ptr<unsigned char[]> block(payload - nwCStreamDispatcher::kHeaderSize);
    const uint32_t total = FrameSize(payloadLength);
    const uint32_t length = total - nwCStreamDispatcher::kHeaderSize;
    unsigned char* header = block.get();
    header[0] = static_cast<unsigned char>(type);
    header[1] = static_cast<unsigned char>(type >> 8);
    header[2] = static_cast<unsigned char>(subtype);
    header[3] = static_cast<unsigned char>(subtype >> 8);
    memset(header + 4, 0, 6);
    for (int i = 0; i < 4; ++i) header[10 + i] = static_cast<unsigned char>(length >> (8 * i));
    SendToLower(vqBUFFER{block.get(), total});
    return VQ_OK_NETWORK;
}
