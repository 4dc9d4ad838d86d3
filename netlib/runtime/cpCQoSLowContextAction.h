#pragma once
// The budgeted strategies' pumps: every chunk is granted by a quota first.
// A pump that gets no grant sets its blocked flag and stops; the scheduler's
// next tick refills the quota and the context re-arms the socket.

#include "netlib/runtime/cpCQoSContextAction.h"

class cpCQoSLowContextAction : public cpCQoSContextAction {
public:
    int32_t ReceivePump() override;
    bool SendPump(int32_t* sent) override;
    bool TakeSendBlocked() override;
    bool TakeReceiveBlocked() override;

    virtual uint32_t RequestReceiveQuota(uint32_t n) = 0;
    virtual uint32_t RequestSendQuota(uint32_t n) = 0;
    virtual void ReturnReceiveQuota(uint32_t n) = 0;
    virtual void ReturnSendQuota(uint32_t n) = 0;

protected:
    bool m_sendBlocked = false;
    bool m_receiveBlocked = false;
};
