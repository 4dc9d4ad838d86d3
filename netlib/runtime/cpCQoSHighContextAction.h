#pragma once
// The unlimited strategy: sends in 4096-byte chunks and receives in 1024-byte
// reads as fast as the socket allows. A receive pump yields once more than
// 1048575 bytes wait in the buffer, so one connection cannot hold the thread;
// the rest stays in the socket and is reported again.

#include "netlib/runtime/cpCQoSContextAction.h"

class cpCQoSHighContextAction : public cpCQoSContextAction {
public:
    int GetType() const override { return cpQOS_HIGH; }
    int32_t ReceivePump() override;
    bool SendPump(int32_t* sent) override;
    bool TakeSendBlocked() override { return false; }
    bool TakeReceiveBlocked() override { return false; }
};
