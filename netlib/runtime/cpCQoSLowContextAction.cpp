#include "netlib/runtime/cpCQoSLowContextAction.h"


#include <algorithm>

int32_t cpCQoSLowContextAction::ReceivePump()
{
    int32_t total = 0;
    int32_t received = 0;
    do {
        // Like the unlimited pump, yield once a megabyte waits for the
        // layers: the rest stays in the socket and is reported again.
        if (m_receiveBuffer->length > kYieldAbove || RoundTaken(total)) break;
        const uint32_t granted = RequestReceiveQuota(kReceiveChunk);
        if (granted == 0) {
            m_receiveBlocked = true;
            break;
        }
        if (!ReserveReceiveRoom()) {
            ReturnReceiveQuota(granted);
            break;
        }
        received = 0;
        vqRESULT result =
            SocketReceive(m_receiveBuffer->data + m_receiveBuffer->length, granted, &received);
        if (VQ_FAILED(result) || received < 0) {
            ReturnReceiveQuota(granted);
            break;
        }
        total += received;
        ReturnReceiveQuota(granted - static_cast<uint32_t>(received));
        m_receiveBuffer->length += static_cast<uint32_t>(received);
    } while (received > 0);
    return total;
}

bool cpCQoSLowContextAction::SendPump(int32_t* sent)
{
    *sent = 0;
    cpQoSSendBuffer& buffer = *m_sendBuffer;
    if (!buffer.data || buffer.length == 0 || m_sendBlocked) return true;
    while (buffer.offset < buffer.length) {
        const uint32_t chunk = std::min(buffer.length - buffer.offset, kSendChunk);
        const uint32_t granted = RequestSendQuota(chunk);
        if (granted == 0) {
            m_sendBlocked = true;
            return true;
        }
        int32_t n = 0;
        vqRESULT result = SocketSend(buffer.data + buffer.offset, granted, &n);
        if (VQ_SUCCEEDED(result) && n > 0) {
            // A partial send keeps the whole grant counted as used.
            *sent += n;
            buffer.offset += static_cast<uint32_t>(n);
            if (buffer.offset == buffer.length) {
                SocketRearm();
                return true;
            }
            continue;
        }
        ReturnSendQuota(granted);
        if (VQ_FAILED(result) && !VQ_IS_WOULDBLOCK(result)) return false;
        SocketRearm();
        return true;
    }
    return true;
}

bool cpCQoSLowContextAction::TakeSendBlocked()
{
    bool blocked = m_sendBlocked;
    m_sendBlocked = false;
    return blocked;
}

bool cpCQoSLowContextAction::TakeReceiveBlocked()
{
    bool blocked = m_receiveBlocked;
    m_receiveBlocked = false;
    return blocked;
}
