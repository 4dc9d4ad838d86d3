#pragma once
// A pump strategy: moves bytes between a connection's buffers and its socket
// under a bandwidth rule. Owned by its connection context; runs on the
// service thread under the network lock.
//
// Contract: Attach gives the strategy the context's socket record and its two
// buffers (they outlive the strategy). ReceivePump appends to the receive
// buffer and answers the bytes received; SendPump sends from the current send
// buffer (the context frees a buffer once fully sent) and answers false only
// on a hard send error. TakeSendBlocked/TakeReceiveBlocked report, and clear,
// whether a pump stopped for lack of budget, so the context can re-arm the
// socket after the next refill.

#include "netlib/core/vqResult.h"
#include "netlib/runtime/cpQoSBuffers.h"

#include <cstdint>

struct cpSocketRecord;

enum cpQoSActionType {
    cpQOS_HIGH = 1,
    cpQOS_LOW_SERVER = 2,
    cpQOS_LOW_SERVER_RECEIVE_ONLY = 3,
    cpQOS_LOW_SERVER_SEND_ONLY = 4,
    cpQOS_OWN = 5,
    cpQOS_OWN_RECEIVE_ONLY = 6,
    cpQOS_OWN_SEND_ONLY = 7,
};

// SetLimit directions.
constexpr int cpQOS_LIMIT_RECEIVE = 0;
constexpr int cpQOS_LIMIT_SEND = 1;

class cpCQoSContextAction {
public:
    static constexpr uint32_t kSendChunk = 4096;
    static constexpr uint32_t kReceiveChunk = 1024;
    // A receive pump stops once more than this waits in the buffer.
    static constexpr uint32_t kYieldAbove = 1048575;

    virtual ~cpCQoSContextAction() = default;

    void Attach(cpSocketRecord* record, cpQoSSendBuffer* sendBuffer, cpQoSReceiveBuffer* receiveBuffer);
    // Bytes after which one pump run hands over to the layers; 0: no bound
    // but the buffer's.
    void SetReceiveRound(uint32_t bytes) { m_receiveRound = bytes; }

    virtual int GetType() const = 0;
    virtual int32_t ReceivePump() = 0;
    virtual bool SendPump(int32_t* sent) = 0;
    virtual bool TakeSendBlocked() = 0;
    virtual bool TakeReceiveBlocked() = 0;
    virtual void SetLimit(int direction, const int32_t* value);
    // Adds this second's usage to the totals and refills the own budgets.
    virtual void CollectUsage(uint32_t* receivedTotal, uint32_t* sentTotal);

    // Null for an unknown type.
    static cpCQoSContextAction* Make(int type);

protected:
    // The socket as the pumps use it; tests script it.
    virtual vqRESULT SocketSend(const unsigned char* bytes, uint32_t length, int32_t* sent);
    virtual vqRESULT SocketReceive(unsigned char* buffer, uint32_t size, int32_t* received);
    virtual void SocketRearm();

    // Makes room for kReceiveChunk more bytes at the end of the receive
    // buffer, doubling its capacity as needed; false when memory ran out.
    bool ReserveReceiveRoom();
    // True once a run that has received `total` bytes has taken its round.
    bool RoundTaken(int32_t total) const { return m_receiveRound != 0 && static_cast<uint32_t>(total) >= m_receiveRound; }

    cpSocketRecord* m_record = nullptr;
    cpQoSSendBuffer* m_sendBuffer = nullptr;
    cpQoSReceiveBuffer* m_receiveBuffer = nullptr;
    uint32_t m_receiveRound = 0;
};
