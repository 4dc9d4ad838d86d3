#include "netlib/runtime/cpCQoSOwnContextAction.h"

#include <algorithm>

uint32_t cpCQoSOwnContextAction::RequestReceiveQuota(uint32_t n)
{
    const uint32_t granted = std::min(n, m_receiveRemaining);
    m_receiveRemaining -= granted;
    m_receiveUsed += granted;
    return granted;
}

uint32_t cpCQoSOwnContextAction::RequestSendQuota(uint32_t n)
{
    const uint32_t granted = std::min(n, m_sendRemaining);
    m_sendRemaining -= granted;
    m_sendUsed += granted;
    return granted;
}

void cpCQoSOwnContextAction::ReturnReceiveQuota(uint32_t n)
{
    m_receiveRemaining += n;
    m_receiveUsed -= n;
}

void cpCQoSOwnContextAction::ReturnSendQuota(uint32_t n)
{
    m_sendRemaining += n;
    m_sendUsed -= n;
}

void cpCQoSOwnContextAction::SetLimit(int direction, const int32_t* value)
{
    if (!value || *value < 0) return;
    const uint32_t limit = static_cast<uint32_t>(*value);
    if (direction == cpQOS_LIMIT_RECEIVE) {
        if (!m_collected && m_receiveLimit == 0) m_receiveRemaining = limit;
        m_receiveLimit = limit;
    } else if (direction == cpQOS_LIMIT_SEND) {
        if (!m_collected && m_sendLimit == 0) m_sendRemaining = limit;
        m_sendLimit = limit;
    }
}

void cpCQoSOwnContextAction::CollectUsage(uint32_t* receivedTotal, uint32_t* sentTotal)
{
    if (receivedTotal) *receivedTotal += m_receiveUsed;
    if (sentTotal) *sentTotal += m_sendUsed;
    m_collected = true;
    m_receiveUsed = 0;
    m_sendUsed = 0;
    m_receiveRemaining = m_receiveLimit;
    m_sendRemaining = m_sendLimit;
}
