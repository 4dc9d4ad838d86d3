#pragma once
// Strategies with budgets of their own connection: both directions, or only
// receiving (the send side unlimited), or only sending. Limits start at 0,
// which blocks that direction until SetLimit. The first limit set before the
// strategy's first scheduler tick is also the budget of the period under way,
// so a new connection moves bytes at once instead of waiting up to a second
// for the tick; any later limit applies from the next tick, which refills the
// remaining budgets. Either way no period grants more than its limit.

#include "netlib/runtime/cpCQoSLowContextAction.h"

class cpCQoSOwnContextAction : public cpCQoSLowContextAction {
public:
    int GetType() const override { return cpQOS_OWN; }
    uint32_t RequestReceiveQuota(uint32_t n) override;
    uint32_t RequestSendQuota(uint32_t n) override;
    void ReturnReceiveQuota(uint32_t n) override;
    void ReturnSendQuota(uint32_t n) override;
    void SetLimit(int direction, const int32_t* value) override;
    void CollectUsage(uint32_t* receivedTotal, uint32_t* sentTotal) override;

protected:
    uint32_t m_receiveLimit = 0;
    uint32_t m_sendLimit = 0;
    uint32_t m_receiveRemaining = 0;
    uint32_t m_sendRemaining = 0;
    uint32_t m_receiveUsed = 0;
    uint32_t m_sendUsed = 0;
    bool m_collected = false;
};
