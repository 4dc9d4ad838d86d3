#include "service/CContentLengthCheckSession.h"

#include "netlib/core/vqCGarbageCollector.h"
#include "service/HttpConnection.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "service/ActivityLog.h"

namespace {
constexpr uint32_t kEventMask = QOS_EVENT_CONNECT_TIMEOUT | QOS_EVENT_IDLE;
}

CContentLengthCheckSession::~CContentLengthCheckSession()
{
    EndConnection();
}

void CContentLengthCheckSession::SetUrl(int index, const char* entry)
{
    m_index = index;
    const std::string value = entry ? entry : "";
    m_url = value.substr(0, value.find('|'));
}

void CContentLengthCheckSession::Detach()
{
    m_checker = nullptr;
    EndConnection();
}

vqIHttpClientExLayer* CContentLengthCheckSession::Layer() const
{
    return HttpLayerOf(m_connection);
}

void CContentLengthCheckSession::EndConnection()
{
    ReleaseHttpConnection(m_connection);
}

void CContentLengthCheckSession::Probe()
{
    if (++m_attempts > kMaxAttempts) {
        LogPrintf("[MeshpullLib] ContentLength Check Failed reason:%s file:%d url:%s", m_reason.c_str(), m_index,
                  m_url.c_str());
        if (m_checker) m_checker->OnProbeFailed(m_index, m_url.c_str());
        return;
    }
    if (m_connection.Get()) return;
    const std::string& target = m_redirectUrl.empty() ? m_url : m_redirectUrl;
    if (!m_connection.CreateInstance(CLSID_cpCQoSContext)) return ReportUnreachable();
    auto* context = m_connection.As<vqIQoSContext>();
    if (VQ_FAILED(context->Open(1, kEventMask, nullptr)) ||
        VQ_FAILED(context->AddLayer(CLSID_nwCHttpClientExLayer, false)))
        return ReportUnreachable();
    context->SetParam(QOS_PARAM_IDLE_LIMIT, &kIdleSeconds);
    vqIHttpClientExLayer* layer = Layer();
    layer->SetEventListener(this, 0);
    // A URL that cannot even be connected to (no scheme we speak, a host that
    // does not resolve) would bring no event at all: it is unreachable.
    if (VQ_FAILED(layer->Connect(target.c_str()))) return ReportUnreachable();
    layer->SendGetRequest();
}

void CContentLengthCheckSession::ReportUnreachable()
{
    m_reason = "HostUnreach";
    EndConnection();
    LogPrintf("[MeshpullLib] CLCS HU(file:%d)", m_index);
    if (m_checker) m_checker->OnProbeUnreachable(m_index);
}

void CContentLengthCheckSession::OnConnected(int32_t) {}

void CContentLengthCheckSession::OnResponseHeader(int32_t)
{
    vqIHttpClientExLayer* layer = Layer();
    int32_t status = 0;
    int64_t length = 0;
    layer->GetStatusCode(&status);
    layer->GetContentLength(&length);
    const std::string next = RedirectTargetOf(layer, m_redirectUrl.empty() ? m_url : m_redirectUrl);
    EndConnection();
    if (status == 200) {
        m_contentLength = length;
        if (m_checker) m_checker->OnProbeDone(m_index, m_contentLength);
        return;
    }
    m_reason = "ResCode:" + std::to_string(status);
    if ((status == 302 || status == 303) && !next.empty()) m_redirectUrl = next;
    Probe();
}

int32_t CContentLengthCheckSession::OnReceiveData(int32_t, const unsigned char*, int32_t length)
{
    return length;
}

void CContentLengthCheckSession::OnReceiveComplete(int32_t) {}

void CContentLengthCheckSession::OnSendReady(int32_t) {}

void CContentLengthCheckSession::OnClosed(int32_t)
{
    m_reason = "Closed";
    EndConnection();
    Probe();
}

void CContentLengthCheckSession::OnConnectTimeout(int32_t)
{
    m_reason = "ConnectTimeout";
    EndConnection();
    const int index = m_index;
    Probe();
    LogPrintf("[MeshpullLib] CLCS CT(file:%d)", index);
}

void CContentLengthCheckSession::OnRecvTimeout(int32_t)
{
    m_reason = "RecvTimeout";
    EndConnection();
    const int index = m_index;
    Probe();
    LogPrintf("[MeshpullLib] CLCS RT(file:%d)", index);
}

void CContentLengthCheckSession::OnHostUnreach(int32_t)
{
    ReportUnreachable();
}
