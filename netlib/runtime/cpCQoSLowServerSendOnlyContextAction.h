#pragma once
// Process-wide budget for sending; receiving is unlimited.
#include "netlib/runtime/cpCQoSLowServerContextAction.h"

class cpCQoSLowServerSendOnlyContextAction : public cpCQoSLowServerContextAction {
public:
    using cpCQoSLowServerContextAction::cpCQoSLowServerContextAction;
    int GetType() const override { return cpQOS_LOW_SERVER_SEND_ONLY; }
    uint32_t RequestReceiveQuota(uint32_t n) override { return n; }
    void ReturnReceiveQuota(uint32_t) override {}
};
