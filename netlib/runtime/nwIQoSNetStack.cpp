#include "netlib/runtime/nwIQoSNetStack.h"

#include "netlib/runtime/vqIQoSContext.h"

vqRESULT nwIQoSNetStack::GetReceiveRate(uint32_t* bytesPerSecond)
{
    return m_context ? m_context->GetReceiveRate(bytesPerSecond) : VQ_E_NETWORK;
}

vqRESULT nwIQoSNetStack::GetSendRate(uint32_t* bytesPerSecond)
{
    return m_context ? m_context->GetSendRate(bytesPerSecond) : VQ_E_NETWORK;
}

vqRESULT nwIQoSNetStack::Close()
{
    return m_context ? m_context->Close() : VQ_E_NETWORK;
}

vqRESULT nwIQoSNetStack::SetEventMask(uint32_t mask)
{
    return m_context ? m_context->SetEventMask(mask) : VQ_E_NETWORK;
}

vqRESULT nwIQoSNetStack::AddEventMask(uint32_t bits)
{
    return m_context ? m_context->AddEventMask(bits) : VQ_E_NETWORK;
}

vqRESULT nwIQoSNetStack::RemoveEventMask(uint32_t bits)
{
    return m_context ? m_context->RemoveEventMask(bits) : VQ_E_NETWORK;
}

vqRESULT nwIQoSNetStack::Connect(const cpADDRESS& address)
{
    return m_context ? m_context->Connect(address) : VQ_E_NETWORK;
}

vqRESULT nwIQoSNetStack::NotifyUpperConnected()
{
    return m_context ? m_context->NotifyUpperConnected(this) : VQ_E_NETWORK;
}

int32_t nwIQoSNetStack::DeliverUp(const unsigned char* bytes, uint32_t length)
{
    return m_context ? m_context->DeliverUp(this, bytes, length) : 0;
}

vqRESULT nwIQoSNetStack::SendToLower(const vqBUFFER& buffer)
{
    return m_context ? m_context->SendFromLayer(this, buffer) : VQ_E_NETWORK;
}
