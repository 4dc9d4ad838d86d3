#include "netlib/runtime/cpCSocket.h"

cpCSocket::~cpCSocket()
{
    Close();
}

vqRESULT cpCSocket::Create(uint32_t type)
{
    return cpSocketCreate(m_record, type);
}

vqRESULT cpCSocket::Connect(const cpADDRESS& address)
{
    return cpSocketConnect(m_record, address);
}

vqRESULT cpCSocket::Close()
{
    if (!m_record) return VQ_E_NO_SOCKET_RECORD;
    vqRESULT result = cpSocketClose(m_record);
    m_record = nullptr;
    return result;
}

vqRESULT cpCSocket::Send(const void* bytes, uint32_t length, int32_t* sent)
{
    return cpSocketSend(m_record, bytes, length, sent);
}

vqRESULT cpCSocket::Receive(void* buffer, uint32_t size, int32_t* received)
{
    return cpSocketReceive(m_record, buffer, size, received);
}

vqRESULT cpCSocket::Shutdown()
{
    return VQ_OK_PLATFORM;
}

vqRESULT cpCSocket::Bind(const cpADDRESS& address)
{
    return cpSocketBind(m_record, address);
}

vqRESULT cpCSocket::Listen()
{
    return cpSocketListen(m_record);
}

vqRESULT cpCSocket::Accept(cpSocketRecord** record, cpADDRESS* peer)
{
    if (!record) return VQ_E_PLATFORM;
    return cpSocketAccept(m_record, peer, *record);
}

vqRESULT cpCSocket::SendTo(const void* bytes, uint32_t length, const cpADDRESS& address, int32_t* sent)
{
    return cpSocketSendTo(m_record, bytes, length, address, sent);
}

vqRESULT cpCSocket::SetOption(int option)
{
    return cpSocketSetOption(m_record, option);
}

vqRESULT cpCSocket::ReceiveFrom(void* buffer, uint32_t size, cpADDRESS* from, int32_t* received)
{
    return cpSocketReceiveFrom(m_record, buffer, size, from, received);
}
