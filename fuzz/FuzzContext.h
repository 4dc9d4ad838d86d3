#pragma once
// A connection context for one protocol layer under fuzzing: it records what
// the layer sends and, like the real context, closes the connection (the
// layer's OnClose) when the layer refuses received bytes. Bytes the layer
// leaves are offered again in front of newer ones.

#include "netlib/core/vqCRefCounted.h"
#include "netlib/runtime/nwIQoSNetStack.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <string>

namespace fuzz {

class FuzzContext : public vqCRefCounted<vqIQoSContext> {
public:
    void Adopt(nwIQoSNetStack* stack)
    {
        m_stack = stack;
        stack->SetContext(this);
    }

    // The peer's bytes; false once the connection is closed.
    bool Deliver(const std::string& bytes)
    {
        if (closed) return false;
        m_inbox += bytes;
        const int32_t consumed =
            m_stack->OnReceive(reinterpret_cast<const unsigned char*>(m_inbox.data()), static_cast<uint32_t>(m_inbox.size()));
        if (consumed < 0 || static_cast<size_t>(consumed) > m_inbox.size()) {
            refused = consumed < 0;
            overrun = consumed >= 0;
            Close();
            return false;
        }
        m_inbox.erase(0, static_cast<size_t>(consumed));
        return !closed;
    }
    const std::string& Inbox() const { return m_inbox; }

    bool closed = false;
    bool refused = false;
    bool overrun = false;
    std::string sent;

    vqRESULT Open(int, uint32_t, cpSocketRecord*) override { return VQ_OK_PLATFORM; }
    vqRESULT SetActionLimit(int, const int32_t*) override { return VQ_OK_PLATFORM; }
    vqRESULT SetAction(int) override { return VQ_OK_PLATFORM; }
    vqRESULT SetEventMask(uint32_t) override { return VQ_OK_PLATFORM; }
    vqRESULT AddEventMask(uint32_t) override { return VQ_OK_PLATFORM; }
    vqRESULT RemoveEventMask(uint32_t) override { return VQ_OK_PLATFORM; }
    vqRESULT SetParam(int, const int32_t*) override { return VQ_OK_PLATFORM; }
    vqRESULT GetState(int32_t* state) override
    {
        *state = closed ? QOS_CLOSED : QOS_CONNECTING;
        return VQ_OK_PLATFORM;
    }
    vqRESULT Connect(const cpADDRESS&) override { return VQ_OK_PLATFORM; }
    vqRESULT SendFromLayer(nwIQoSNetStack*, const vqBUFFER& buffer) override
    {
        sent.append(static_cast<const char*>(buffer.data), buffer.length);
        return VQ_OK_PLATFORM;
    }
    vqRESULT AddLayer(uint32_t, bool) override { return VQ_E_PLATFORM; }
    vqRESULT FindLayer(uint32_t, vqIUnknown**) override { return VQ_E_PLATFORM; }
    vqRESULT Rearm() override { return VQ_E_PLATFORM; }
    vqRESULT RegisterFrameHandler(uint16_t, uint32_t, nwFrameCallback, void*) override { return VQ_E_PLATFORM; }
    vqRESULT SetAddress(const cpADDRESS&) override { return VQ_OK_PLATFORM; }
    vqRESULT GetAddress(const cpADDRESS**) override { return VQ_E_PLATFORM; }
    vqRESULT Close() override
    {
        if (closed) return VQ_OK_PLATFORM;
        closed = true;
        if (m_stack) m_stack->OnClose();
        return VQ_OK_PLATFORM;
    }
    vqRESULT PostClose() override { return Close(); }
    vqIUnknown* GetTopLayer() override { return m_stack; }
    vqRESULT NotifyUpperConnected(nwIQoSNetStack*) override { return VQ_E_PLATFORM; }
    int32_t DeliverUp(nwIQoSNetStack*, const unsigned char*, uint32_t) override { return 0; }
    vqRESULT GetSendBuffer(const unsigned char**, uint32_t*) override { return VQ_E_PLATFORM; }
    vqRESULT Send(const vqBUFFER&) override { return VQ_OK_PLATFORM; }
    vqRESULT GetReceiveRate(uint32_t*) override { return VQ_E_PLATFORM; }
    vqRESULT GetSendRate(uint32_t*) override { return VQ_E_PLATFORM; }
    vqRESULT GetPendingSendBytes(uint32_t*) override { return VQ_E_PLATFORM; }
    vqRESULT GetHostName(const char**) override { return VQ_E_PLATFORM; }
    vqRESULT SetHostName(const char*) override { return VQ_OK_PLATFORM; }
    vqRESULT MarkAddressGood() override { return VQ_OK_PLATFORM; }
    vqRESULT MarkAddressFailed() override { return VQ_OK_PLATFORM; }
    vqRESULT GetLocalAddress(cpADDRESS*) override { return VQ_E_PLATFORM; }
    vqRESULT GetConnectFailure(int32_t* failure) override
    {
        *failure = QOS_CONNECT_NOT_FAILED;
        return VQ_OK_PLATFORM;
    }

private:
    nwIQoSNetStack* m_stack = nullptr;
    std::string m_inbox;
};

} // namespace fuzz
