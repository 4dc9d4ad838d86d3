#include "netlib/runtime/cpCQoSLowServerContextAction.h"

#include "netlib/runtime/cpCQoS.h"

cpCQoSLowServerContextAction::cpCQoSLowServerContextAction(cpCQoSBudget* budget) : m_budget(budget) {}

cpCQoSBudget* cpCQoSLowServerContextAction::Budget() const
{
    if (m_budget) return m_budget;
    cpCQoS* manager = cpCQoS::Get();
    return manager ? &manager->Budget() : nullptr;
}

uint32_t cpCQoSLowServerContextAction::RequestReceiveQuota(uint32_t n)
{
    cpCQoSBudget* budget = Budget();
    return budget ? budget->GrantReceive(n) : 0;
}

uint32_t cpCQoSLowServerContextAction::RequestSendQuota(uint32_t n)
{
    cpCQoSBudget* budget = Budget();
    return budget ? budget->GrantSend(n) : 0;
}

void cpCQoSLowServerContextAction::ReturnReceiveQuota(uint32_t n)
{
    if (cpCQoSBudget* budget = Budget()) budget->ReturnReceive(n);
}

void cpCQoSLowServerContextAction::ReturnSendQuota(uint32_t n)
{
    if (cpCQoSBudget* budget = Budget()) budget->ReturnSend(n);
}
