#pragma once
// A budget of its own for sending; receiving is unlimited.
#include "netlib/runtime/cpCQoSOwnContextAction.h"

class cpCQoSOwnSendOnlyContextAction : public cpCQoSOwnContextAction {
public:
    int GetType() const override { return cpQOS_OWN_SEND_ONLY; }
    uint32_t RequestReceiveQuota(uint32_t n) override { return n; }
    void ReturnReceiveQuota(uint32_t) override {}
};
