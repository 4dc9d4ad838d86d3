#include "netlib/runtime/cpCQoSContextAction.h"

#include "netlib/runtime/cpCQoSHighContextAction.h"
#include "netlib/runtime/cpCQoSLowServerReceiveOnlyContextAction.h"
#include "netlib/runtime/cpCQoSLowServerSendOnlyContextAction.h"
#include "netlib/runtime/cpCQoSOwnReceiveOnlyContextAction.h"
#include "netlib/runtime/cpCQoSOwnSendOnlyContextAction.h"
#include "netlib/runtime/cpSocketFunctions.h"

#include <cstring>
#include <new>

void cpCQoSContextAction::Attach(cpSocketRecord* record, cpQoSSendBuffer* sendBuffer, cpQoSReceiveBuffer* receiveBuffer)
{
    m_record = record;
    m_sendBuffer = sendBuffer;
    m_receiveBuffer = receiveBuffer;
}

vqRESULT cpCQoSContextAction::SocketSend(const unsigned char* bytes, uint32_t length, int32_t* sent)
{
    return cpSocketSend(m_record, bytes, length, sent);
}

vqRESULT cpCQoSContextAction::SocketReceive(unsigned char* buffer, uint32_t size, int32_t* received)
{
    return cpSocketReceive(m_record, buffer, size, received);
}

void cpCQoSContextAction::SocketRearm()
{
    cpSocketRearm(m_record);
}

void cpCQoSContextAction::SetLimit(int, const int32_t*) {}

void cpCQoSContextAction::CollectUsage(uint32_t*, uint32_t*) {}

bool cpCQoSContextAction::ReserveReceiveRoom()
{
    cpQoSReceiveBuffer& buffer = *m_receiveBuffer;
    const uint64_t needed = uint64_t(buffer.length) + kReceiveChunk;
    if (buffer.data && needed <= buffer.capacity) return true;
    uint64_t capacity = buffer.capacity ? buffer.capacity : kReceiveChunk;
    while (capacity < needed) capacity *= 2;
    if (capacity > UINT32_MAX) return false;
    // Received bytes land straight in this buffer: no scratch copy per read.
    auto* grown = new (std::nothrow) unsigned char[capacity];
    if (!grown) return false;
    if (buffer.length) memcpy(grown, buffer.data, buffer.length);
    delete[] buffer.data;
    buffer.data = grown;
    buffer.capacity = static_cast<uint32_t>(capacity);
    return true;
}

cpCQoSContextAction* cpCQoSContextAction::Make(int type)
{
    switch (type) {
    case cpQOS_HIGH:
        return new cpCQoSHighContextAction();
    case cpQOS_LOW_SERVER:
        return new cpCQoSLowServerContextAction();
    case cpQOS_LOW_SERVER_RECEIVE_ONLY:
        return new cpCQoSLowServerReceiveOnlyContextAction();
    case cpQOS_LOW_SERVER_SEND_ONLY:
        return new cpCQoSLowServerSendOnlyContextAction();
    case cpQOS_OWN:
        return new cpCQoSOwnContextAction();
    case cpQOS_OWN_RECEIVE_ONLY:
        return new cpCQoSOwnReceiveOnlyContextAction();
    case cpQOS_OWN_SEND_ONLY:
        return new cpCQoSOwnSendOnlyContextAction();
    default:
        return nullptr;
    }
}
