#include "netlib/runtime/cpCQoSBudget.h"

#include <algorithm>

void cpCQoSBudget::Refill()
{
    m_sendAllowance = m_sendBudget;
    m_sendGranted = 0;
    m_receiveAllowance = m_receiveBudget;
    m_receiveGranted = 0;
}

uint32_t cpCQoSBudget::Grant(uint32_t n, uint32_t allowance, uint32_t& granted)
{
    if (granted >= allowance) return 0;
    uint32_t grant = std::min(n, allowance - granted);
    granted += grant;
    return grant;
}
