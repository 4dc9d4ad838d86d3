#pragma once
// The process-wide bandwidth budgets shared by every connection whose
// strategy counts against them. Refilled once a second by the scheduler;
// zero until the first refill, so nothing moves before it.

#include <cstdint>

class cpCQoSBudget {
public:
    static constexpr uint32_t kDefaultBytesPerSecond = 104857600; // 100 MiB

    // This second's allowances become the budgets again.
    void Refill();

    uint32_t GrantSend(uint32_t n) { return Grant(n, m_sendAllowance, m_sendGranted); }
    void ReturnSend(uint32_t n) { m_sendGranted -= n; }
    uint32_t GrantReceive(uint32_t n) { return Grant(n, m_receiveAllowance, m_receiveGranted); }
    void ReturnReceive(uint32_t n) { m_receiveGranted -= n; }

    uint32_t SendGranted() const { return m_sendGranted; }
    uint32_t ReceiveGranted() const { return m_receiveGranted; }

private:
    static uint32_t Grant(uint32_t n, uint32_t allowance, uint32_t& granted);

    uint32_t m_sendBudget = kDefaultBytesPerSecond;
    uint32_t m_receiveBudget = kDefaultBytesPerSecond;
    uint32_t m_sendAllowance = 0;
    uint32_t m_sendGranted = 0;
    uint32_t m_receiveAllowance = 0;
    uint32_t m_receiveGranted = 0;
};
