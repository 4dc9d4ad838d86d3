#include "service/CDataDownloadSession.h"

#include "netlib/core/cpClock.h"
#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/layers/ConnectionOpener.h"
#include "netlib/layers/HttpConnection.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqTimerLink.h"
#include "netlib/layers/nwCHttpClientExLayer.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "engine/ActivityLog.h"
#include "service/TransferFloor.h"

#include <cstring>
#include <new>

namespace {
constexpr uint32_t kTickPeriodMs = 1000;
constexpr uintptr_t kTickTimerTag = 0x1000011;

// Why url cannot be fetched at all.
std::string UnusableCause(const std::string& url)
{
    const std::string why = nwCHttpClientExLayer::WhyUnusable(url.c_str());
    return why.empty() ? "the connection could not be started" : why;
}

uint64_t NowMs()
{
    cpTIMEOFDAY now{};
    cpGetTimeOfDay(&now);
    return static_cast<uint64_t>(now.seconds) * 1000 + now.milliseconds;
}
} // namespace

CDataDownloadSession::CDataDownloadSession(IDataDownloadSessionEventListener* listener) : m_listener(listener) {}

CDataDownloadSession::~CDataDownloadSession()
{
    EndFetch(false);
}

void CDataDownloadSession::Fetch(const char* url)
{
    if (!url || !url[0]) return;
    m_url = url;
    m_redirects = 0;
    if (!Connect(m_url)) Fail(DATA_FAILED_UNREACHABLE, false, UnusableCause(m_url));
}

bool CDataDownloadSession::Connect(const std::string& url)
{
    // A running fetch is replaced; its context goes to the collector.
    ReleaseHttpConnection(m_connection);
    if (!m_ticking) m_ticking = vqStartTimer(m_tickTimer, kTickPeriodMs, &CDataDownloadSession::OnTick, this, kTickTimerTag);
    ConnectionOptions options;
    options.connectTimeoutSeconds = kConnectTimeoutSeconds;
    options.idleSeconds = kIdleSeconds;
    options.listener = this;
    m_chunked = false;
    m_contentLength = 0;
    if (!OpenHttpConnection(options, url.c_str(), m_connection)) return false;
    m_windowStartMs = NowMs();
    m_windowBytes = 0;
    Layer()->SendGetRequest();
    return true;
}

vqIQoSContext* CDataDownloadSession::Context() const
{
    return m_connection.As<vqIQoSContext>();
}

vqIHttpClientExLayer* CDataDownloadSession::Layer() const
{
    return HttpLayerOf(m_connection);
}

void CDataDownloadSession::EndFetch(bool markAddressFailed)
{
    if (m_ticking) {
        vqStopTimer(m_tickTimer);
        m_ticking = false;
    }
    ReleaseHttpConnection(m_connection, markAddressFailed);
}

void CDataDownloadSession::Fail(int reason, bool markAddressFailed, const std::string& cause)
{
    EndFetch(markAddressFailed);
    const std::string& url = m_redirects > 0 ? m_redirectUrl : m_url;
    m_failure = url + ": " + cause;
    LogPrintf("[MeshpullLib] Data Download Failed reason:%d url:%s (%s)", reason, url.c_str(), cause.c_str());
    if (m_listener) m_listener->OnDataFailed(reason);
}

void CDataDownloadSession::OnTick(void* self)
{
    auto* session = static_cast<CDataDownloadSession*>(self);
    if (!session->AboveFloor()) return;
    if (session->m_listener) session->m_listener->OnDataTick();
}

bool CDataDownloadSession::AboveFloor()
{
    if (!m_connection.Get()) return true;
    const uint64_t now = NowMs();
    if (now - m_windowStartMs < static_cast<uint64_t>(kTransferFloorWindowMs)) return true;
    if (m_windowBytes < kTransferFloorBytes) {
        Fail(DATA_FAILED_TOO_SLOW, false,
             "fewer than " + std::to_string(kTransferFloorBytes) + " bytes in " +
                 std::to_string(kTransferFloorWindowMs / 1000) + " s");
        return false;
    }
    m_windowStartMs = now;
    m_windowBytes = 0;
    return true;
}

void CDataDownloadSession::OnConnected(int32_t)
{
    m_contentLength = 0;
}

void CDataDownloadSession::OnResponseHeader(int32_t)
{
    vqIHttpClientExLayer* layer = Layer();
    int32_t status = 0;
    layer->GetStatusCode(&status);
    if (status == 200) {
        const BodyCoding coding = BodyCodingOf(layer);
        if (coding == BodyCoding::kOther)
            return Fail(DATA_FAILED_BAD_ANSWER, true, StatusText(layer) + " in a transfer coding not read here");
        m_incoming.clear();
        m_incoming.shrink_to_fit();
        if (coding == BodyCoding::kChunked) {
            m_chunked = true;
            m_chunks = nwCChunkedDecoder();
            return;
        }
        int64_t length = 0;
        if (VQ_FAILED(layer->GetContentLength(&length)) || length <= 0 || length > kMaxBodyBytes)
            return Fail(DATA_FAILED_BAD_ANSWER, true,
                        StatusText(layer) + (length > kMaxBodyBytes ? " longer than a file list can be"
                                                                    : " without a usable Content-Length"));
        // Memory follows the bytes that arrive, not the length announced.
        m_contentLength = length;
        return;
    }
    if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
        const std::string target = RedirectTargetOf(layer, m_redirects == 0 ? m_url : m_redirectUrl);
        if (target.empty()) return Fail(DATA_FAILED_BAD_ANSWER, true, StatusText(layer) + " without a usable Location");
        if (++m_redirects > kMaxRedirects)
            return Fail(DATA_FAILED_BAD_ANSWER, true,
                        StatusText(layer) + ", after " + std::to_string(kMaxRedirects) + " redirects");
        m_redirectUrl = target;
        if (!Connect(m_redirectUrl)) Fail(DATA_FAILED_UNREACHABLE, false, UnusableCause(m_redirectUrl));
        return;
    }
    Fail(DATA_FAILED_BAD_ANSWER, true, StatusText(layer));
}

int32_t CDataDownloadSession::OnReceiveData(int32_t, const unsigned char* data, int32_t length)
{
    if (!m_connection.Get() || length <= 0) return 0;
    if (m_chunked) {
        TakeChunked(data, length);
        return length;
    }
    if (m_contentLength <= 0) return 0;
    // Never past the body: any excess is dropped, the body is complete.
    const long long room = m_contentLength - static_cast<long long>(m_incoming.size());
    const long long stored = length < room ? length : room;
    if (stored > 0) m_incoming.insert(m_incoming.end(), data, data + stored);
    m_windowBytes += length;
    return length;
}

void CDataDownloadSession::TakeChunked(const unsigned char* data, int32_t length)
{
    size_t at = 0;
    nwCChunkedDecoder::Status status = m_chunks.GetStatus();
    while (at < static_cast<size_t>(length) && status == nwCChunkedDecoder::Status::kMore) {
        size_t used = 0;
        const unsigned char* body = nullptr;
        size_t run = 0;
        status = m_chunks.Next(data + at, static_cast<size_t>(length) - at, &used, &body, &run);
        at += used;
        if (static_cast<long long>(m_incoming.size() + run) > kMaxBodyBytes)
            return Fail(DATA_FAILED_BAD_ANSWER, true, "a chunked answer longer than a file list can be");
        m_incoming.insert(m_incoming.end(), body, body + run);
    }
    m_windowBytes += length;
    if (status == nwCChunkedDecoder::Status::kBad) return Fail(DATA_FAILED_BAD_ANSWER, true, "a broken chunk in the answer");
    if (status == nwCChunkedDecoder::Status::kDone && m_incoming.empty())
        return Fail(DATA_FAILED_BAD_ANSWER, true, "an empty answer");
    if (status == nwCChunkedDecoder::Status::kDone) Complete();
}

void CDataDownloadSession::OnReceiveComplete(int32_t)
{
    // A chunked body ends with its last chunk, whatever length was announced.
    if (!m_chunked) Complete();
}

void CDataDownloadSession::Complete()
{
    EndFetch(false);
    m_body.swap(m_incoming);
    m_incoming.clear();
    m_bodySize = static_cast<long long>(m_body.size());
    if (m_listener) m_listener->OnDataReady(m_body.data(), m_bodySize);
}


void CDataDownloadSession::OnClosed(int32_t)
{
    // A completed fetch has detached before its close: this connection ended
    // before the whole body (or any answer) arrived.
    const std::string tls = TlsFailureText(m_connection);
    Fail(DATA_FAILED_CLOSED, true,
         !tls.empty()                         ? tls
         : m_chunked || m_contentLength > 0 ? "the connection closed before the whole answer arrived"
                                            : "the connection closed before the answer's header");
}

void CDataDownloadSession::OnConnectTimeout(int32_t)
{
    Fail(DATA_FAILED_CONNECT_TIMEOUT, false, ConnectFailureText(m_connection, kConnectTimeoutSeconds));
}

void CDataDownloadSession::OnRecvTimeout(int32_t)
{
    Fail(DATA_FAILED_RECEIVE_TIMEOUT, false, "no data for " + std::to_string(kIdleSeconds) + " s");
}

void CDataDownloadSession::OnHostUnreach(int32_t)
{
    Fail(DATA_FAILED_UNREACHABLE, false, "no route to the host");
}

int CDataDownloadSession::GetSize(long long* size) const
{
    if (m_bodySize <= 0) return DL_ERR_GENERAL;
    if (size) *size = m_bodySize;
    return DL_OK;
}

int CDataDownloadSession::GetData(DlDataBuffer* buffer) const
{
    if (!buffer || !buffer->data || m_bodySize <= 0 || buffer->size != m_bodySize) return DL_ERR_GENERAL;
    memcpy(buffer->data, m_body.data(), static_cast<size_t>(m_bodySize));
    return DL_OK;
}
