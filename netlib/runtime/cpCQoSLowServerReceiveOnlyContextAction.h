#pragma once
// Process-wide budget for receiving; sending is unlimited.
#include "netlib/runtime/cpCQoSLowServerContextAction.h"

class cpCQoSLowServerReceiveOnlyContextAction : public cpCQoSLowServerContextAction {
public:
    using cpCQoSLowServerContextAction::cpCQoSLowServerContextAction;
    int GetType() const override { return cpQOS_LOW_SERVER_RECEIVE_ONLY; }
    uint32_t RequestSendQuota(uint32_t n) override { return n; }
    void ReturnSendQuota(uint32_t) override {}
};
