#include "netlib/layers/nwCAgentLayer.h"

#include "netlib/core/vqClassIds.h"

#include <cstring>

nwCAgentLayer::nwCAgentLayer()
{
    Initialize();
}

void nwCAgentLayer::Initialize()
{
    m_dispatcher.RegisterHandler(kAgentFrameType, kAgentReplySubtype, &nwCAgentLayer::OnReplyFrame, this);
}

vqRESULT nwCAgentLayer::AddRef()
{
    ++m_refCount;
    return VQ_OK;
}

vqRESULT nwCAgentLayer::Release()
{
    if (--m_refCount == 0) delete this;
    return VQ_OK;
}

vqRESULT nwCAgentLayer::QueryInterface(uint32_t interfaceId, void** out)
{
    if (interfaceId != IID_nwIQoSNetStack) return VQ_E_NETWORK;
    *out = static_cast<nwIQoSNetStack*>(this);
    return VQ_OK_NETWORK;
}

vqRESULT nwCAgentLayer::SetEventListener(nwIAgentListener* listener, int32_t cookie)
{
    m_listener = listener;
    m_cookie = cookie;
    return VQ_OK_NETWORK;
}

vqRESULT nwCAgentLayer::SendReport(const vqAGENTREPORT& report)
{
    const int32_t count = report.count > 0 && report.entries ? report.count : 0;
    const uint32_t length = 4 + kAgentEntrySize * static_cast<uint32_t>(count);
    unsigned char* payload = AllocFrame(length);
    for (int i = 0; i < 4; ++i) payload[i] = static_cast<unsigned char>(static_cast<uint32_t>(count) >> (8 * i));
    if (count > 0) memcpy(payload + 4, report.entries, kAgentEntrySize * static_cast<size_t>(count));
    return SendFrame(kAgentReportSubtype, payload, length, kAgentFrameType);
}

bool nwCAgentLayer::OnConnected()
{
    if (m_listener) m_listener->OnAgentConnected(m_cookie);
    return true;
}

void nwCAgentLayer::OnClosed()
{
    if (m_listener) m_listener->OnAgentClosed(m_cookie);
}

bool nwCAgentLayer::OnConnectTimeout()
{
    if (m_listener) m_listener->OnAgentConnectTimeout(m_cookie);
    return true;
}

bool nwCAgentLayer::OnIdleTimeout()
{
    if (m_listener) m_listener->OnAgentRecvTimeout(m_cookie);
    return true;
}

void nwCAgentLayer::OnReplyFrame(const unsigned char* payload, uint32_t length, void* self)
{
    auto* layer = static_cast<nwCAgentLayer*>(self);
    if (layer->m_listener) layer->m_listener->OnAgentReply(layer->m_cookie, length > 0 ? payload[0] : 0);
}
