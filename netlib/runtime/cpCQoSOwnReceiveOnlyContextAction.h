#pragma once
// A budget of its own for receiving; sending is unlimited.
#include "netlib/runtime/cpCQoSOwnContextAction.h"

class cpCQoSOwnReceiveOnlyContextAction : public cpCQoSOwnContextAction {
public:
    int GetType() const override { return cpQOS_OWN_RECEIVE_ONLY; }
    uint32_t RequestSendQuota(uint32_t n) override { return n; }
    void ReturnSendQuota(uint32_t) override {}
};
