#include "service/CContentLengthCheckSession.h"

#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/layers/ConnectionOpener.h"
#include "netlib/layers/HttpConnection.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/nwCHttpClientExLayer.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "engine/ActivityLog.h"
#include "service/HttpTransferRules.h"

namespace {
// The context's own connect timeout: the probe does not set one.
constexpr int32_t kConnectTimeoutSeconds = 5;
} // namespace

CContentLengthCheckSession::~CContentLengthCheckSession()
{
    EndConnection();
}

void CContentLengthCheckSession::SetUrl(int index, const char* entry)
{
    m_index = index;
    m_alternatives = SplitAlternatives(entry ? entry : "");
    m_alternativeIndex = 0;
    m_url = m_alternatives.empty() ? std::string() : m_alternatives[0];
}

bool CContentLengthCheckSession::NextAlternative()
{
    if (m_alternativeIndex + 1 >= m_alternatives.size()) return false;
    m_url = m_alternatives[++m_alternativeIndex];
    m_redirectUrl.clear();
    m_redirects = 0;
    m_attempts = 0;
    return true;
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
        // A dead mirror is not a dead file: the next alternative may answer.
        if (!NextAlternative()) {
            LogPrintf("[MeshpullLib] ContentLength Check Failed reason:%s file:%d url:%s (%s)", m_reason.c_str(), m_index,
                      m_url.c_str(), m_cause.c_str());
            if (m_checker) m_checker->OnProbeFailed(m_index, m_url.c_str());
            return;
        }
        ++m_attempts;
    }
    if (m_connection.Get()) return;
    if (!Connect()) ReportUnreachable(UnusableCause());
}

bool CContentLengthCheckSession::Connect()
{
    const std::string& target = m_redirectUrl.empty() ? m_url : m_redirectUrl;
    ConnectionOptions options;
    options.idleSeconds = kIdleSeconds;
    options.receiveRound = kHeaderOnlyReceiveRound;
    options.listener = this;
    // A URL that cannot even be connected to (no scheme we speak, a host that
    // does not resolve) would bring no event at all: it is unreachable.
    if (!OpenHttpConnection(options, target.c_str(), m_connection)) return false;
    Layer()->SendGetRequest();
    return true;
}

std::string CContentLengthCheckSession::Failure() const
{
    return (m_redirectUrl.empty() ? m_url : m_redirectUrl) + ": " + m_cause;
}

std::string CContentLengthCheckSession::UnusableCause() const
{
    const std::string why = nwCHttpClientExLayer::WhyUnusable((m_redirectUrl.empty() ? m_url : m_redirectUrl).c_str());
    return why.empty() ? "the connection could not be started" : why;
}

void CContentLengthCheckSession::ReportUnreachable(const std::string& cause)
{
    m_reason = "HostUnreach";
    m_cause = cause;
    EndConnection();
    LogPrintf("[MeshpullLib] CLCS HU(file:%d) %s", m_index, Failure().c_str());
    if (NextAlternative()) {
        Probe();
        return;
    }
    if (m_checker) m_checker->OnProbeUnreachable(m_index);
}


void CContentLengthCheckSession::OnResponseHeader(int32_t)
{
    vqIHttpClientExLayer* layer = Layer();
    int32_t status = 0;
    int64_t length = 0;
    layer->GetStatusCode(&status);
    const bool lengthUsable = VQ_SUCCEEDED(layer->GetContentLength(&length));
    vqCString field;
    const bool hasLength = VQ_SUCCEEDED(layer->GetResponseHeader("Content-Length", &field));
    const std::string next = RedirectTargetOf(layer, m_redirectUrl.empty() ? m_url : m_redirectUrl);
    const std::string statusText = StatusText(layer);
    EndConnection();
    if (status == 200 && lengthUsable && hasLength) {
        m_contentLength = length;
        if (m_checker) m_checker->OnProbeDone(m_index, m_contentLength);
        return;
    }
    if (status == 200) {
        // A total built on a missing or contradictory length would be wrong.
        m_reason = hasLength ? "BadLength" : "NoLength";
        m_cause = statusText + (hasLength ? " with an unusable Content-Length" : " without a Content-Length");
        Probe();
        return;
    }
    m_reason = "ResCode:" + std::to_string(status);
    m_cause = statusText;
    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (redirect && next.empty()) m_cause += " without a usable Location";
    if (redirect && !next.empty() && ++m_redirects <= kMaxRedirects) {
        // Following a redirect is no failed attempt.
        m_redirectUrl = next;
        if (!Connect()) ReportUnreachable(UnusableCause());
        return;
    }
    if (redirect && !next.empty()) m_cause += ", after " + std::to_string(kMaxRedirects) + " redirects";
    if (redirect && !next.empty()) m_attempts = kMaxAttempts;
    Probe();
}

int32_t CContentLengthCheckSession::OnReceiveData(int32_t, const unsigned char*, int32_t length)
{
    return length;
}

void CContentLengthCheckSession::OnReceiveComplete(int32_t) {}


void CContentLengthCheckSession::OnClosed(int32_t)
{
    m_reason = "Closed";
    const std::string tls = TlsFailureText(m_connection);
    m_cause = tls.empty() ? "the connection closed before the answer's header" : tls;
    EndConnection();
    Probe();
}

void CContentLengthCheckSession::OnConnectTimeout(int32_t)
{
    m_reason = "ConnectTimeout";
    m_cause = ConnectFailureText(m_connection, kConnectTimeoutSeconds);
    const std::string failure = Failure();
    EndConnection();
    const int index = m_index;
    Probe();
    LogPrintf("[MeshpullLib] CLCS CT(file:%d) %s", index, failure.c_str());
}

void CContentLengthCheckSession::OnRecvTimeout(int32_t)
{
    m_reason = "RecvTimeout";
    m_cause = "no answer for " + std::to_string(kIdleSeconds) + " s";
    const std::string failure = Failure();
    EndConnection();
    const int index = m_index;
    Probe();
    LogPrintf("[MeshpullLib] CLCS RT(file:%d) %s", index, failure.c_str());
}

void CContentLengthCheckSession::OnHostUnreach(int32_t)
{
    ReportUnreachable("no route to the host");
}
