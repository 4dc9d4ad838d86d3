#pragma once
// Strategies that count against the process-wide budgets: both directions,
// or only receiving (the send side unlimited), or only sending.

#include "netlib/runtime/cpCQoSBudget.h"
#include "netlib/runtime/cpCQoSLowContextAction.h"

class cpCQoSLowServerContextAction : public cpCQoSLowContextAction {
public:
    // The socket manager's budgets unless a test hands its own.
    explicit cpCQoSLowServerContextAction(cpCQoSBudget* budget = nullptr);

    int GetType() const override { return cpQOS_LOW_SERVER; }
    uint32_t RequestReceiveQuota(uint32_t n) override;
    uint32_t RequestSendQuota(uint32_t n) override;
    void ReturnReceiveQuota(uint32_t n) override;
    void ReturnSendQuota(uint32_t n) override;

protected:
    cpCQoSBudget* Budget() const;

private:
    cpCQoSBudget* m_budget;
};
