#include "netlib/runtime/cpCQoSHighContextAction.h"


#include <algorithm>

int32_t cpCQoSHighContextAction::ReceivePump()
{
    int32_t total = 0;
    while (m_receiveBuffer->length <= kYieldAbove && !RoundTaken(total)) {
        if (!ReserveReceiveRoom()) break;
        int32_t received = 0;
        vqRESULT result =
            SocketReceive(m_receiveBuffer->data + m_receiveBuffer->length, kReceiveChunk, &received);
        if (VQ_FAILED(result) || received < 1) break;
        m_receiveBuffer->length += static_cast<uint32_t>(received);
        total += received;
    }
    return total;
}

bool cpCQoSHighContextAction::SendPump(int32_t* sent)
{
    *sent = 0;
    cpQoSSendBuffer& buffer = *m_sendBuffer;
    while (buffer.data && buffer.offset < buffer.length) {
        const uint32_t chunk = std::min(buffer.length - buffer.offset, kSendChunk);
        int32_t n = 0;
        vqRESULT result = SocketSend(buffer.data + buffer.offset, chunk, &n);
        if (VQ_FAILED(result) || n <= 0) {
            if (!VQ_IS_WOULDBLOCK(result) && VQ_FAILED(result)) return false;
            SocketRearm();
            return true;
        }
        *sent += n;
        buffer.offset += static_cast<uint32_t>(n);
    }
    if (buffer.data) SocketRearm();
    return true;
}
