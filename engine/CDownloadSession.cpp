#include "engine/CDownloadSession.h"

#include "engine/IProgressFile.h"
#include "netlib/core/cpCAutoLock.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/cpClock.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/ConnectionOpener.h"
#include "netlib/layers/HttpConnection.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <cstring>
#include <new>

namespace {
constexpr int kHttpOk = 200;
} // namespace

CDownloadSession::CDownloadSession(IDownloadSessionEventListener* listener, cpCMutex* networkLock)
    : m_listener(listener)
{
    m_networkLock.Assign(networkLock);
}

CDownloadSession::~CDownloadSession()
{
    Disconnect();
}

void CDownloadSession::Start()
{
    if (!m_record) return;
    std::string url;
    m_record->GetTransferUrl(url);
    if (url.empty()) return;
    m_url = url;
    m_busy = true;
    m_kind = m_record->Classify(m_url.c_str());
    bool connecting;
    {
        cpCAutoLock lock(m_networkLock.As<cpCMutex>());
        connecting = Connect();
    }
    if (!connecting) Fail(SESSION_ERROR_UNREACHABLE);
}

bool CDownloadSession::Connect()
{
    Disconnect();
    m_body.reset();
    m_received = 0;
    m_contentLength = 0;
    ConnectionOptions options;
    options.connectTimeoutSeconds = kConnectTimeoutSeconds;
    options.idleSeconds = kIdleSeconds;
    options.listener = this;
    cpGetTimeOfDay(&m_connectStart);
    if (!OpenHttpConnection(options, m_url.c_str(), m_connection)) return false;
    HttpLayerOf(m_connection)->SendGetRequest();
    return true;
}

void CDownloadSession::Disconnect()
{
    ReleaseHttpConnection(m_connection);
}

void CDownloadSession::Fail(int code)
{
    m_busy = false;
    Disconnect();
    if (m_listener) m_listener->OnSessionError(this, code);
}

void CDownloadSession::OnConnected(int32_t)
{
    m_contentLength = 0;
    if (m_listener) m_listener->OnSessionConnected(this);
}

void CDownloadSession::OnResponseHeader(int32_t)
{
    vqIHttpClientExLayer* layer = HttpLayerOf(m_connection);
    int32_t status = 0;
    int64_t length = 0;
    layer->GetStatusCode(&status);
    layer->GetContentLength(&length);
    const int64_t bound = m_kind == IProgressFile::kTransferDescription ? kMaxDescriptionBytes
                          : m_kind == IProgressFile::kTransferDigestList ? kMaxDigestListBytes
                                                                          : kMaxBodyBytes;
    if (status != kHttpOk || length <= 0 || length > bound) return Fail(SESSION_ERROR_BAD_ANSWER);
    m_body.reset(new (std::nothrow) unsigned char[static_cast<size_t>(length)]);
    if (!m_body) return Fail(SESSION_ERROR_BAD_ANSWER);
    m_contentLength = length;
    m_received = 0;
    if (m_kind == IProgressFile::kTransferFileData && m_listener) m_listener->OnSessionBegin(this, m_url.c_str(), length);
}

int32_t CDownloadSession::OnReceiveData(int32_t, const unsigned char* data, int32_t length)
{
    if (!m_body || length <= 0) return 0;
    // The layer offers nothing past Content-Length; the bound is kept anyway.
    const int64_t room = m_contentLength - m_received;
    const int64_t stored = length < room ? length : room;
    memcpy(m_body.get() + m_received, data, static_cast<size_t>(stored));
    m_received += stored;
    if (m_kind == IProgressFile::kTransferFileData && m_listener) m_listener->OnSessionProgress(this, m_url.c_str(), m_received);
    return length;
}

void CDownloadSession::OnReceiveComplete(int32_t)
{
    SessionResult result;
    result.url = m_url;
    result.kind = m_kind;
    if (m_record) {
        result.code = m_record->Receive(m_url.c_str(), m_body.get(), static_cast<uint32_t>(m_received),
                                        static_cast<int32_t>(m_received >> 32), &result.kind);
    }
    Disconnect();
    // The record kept what it needs; a finished session holds no body.
    m_body.reset();
    if (m_record && !m_record->IsStageEnd()) return Start();
    if (m_listener) m_listener->OnSessionDone(this, result);
}


void CDownloadSession::OnClosed(int32_t)
{
    // A completed transfer has let go of its connection before any close:
    // this one ended before its answer or before its whole body.
    Fail(SESSION_ERROR_CLOSED);
}

void CDownloadSession::OnConnectTimeout(int32_t)
{
    // The connect timer ends an attempt only after the whole time-out; an
    // end well before it is the network's answer that nobody is there (a
    // refused connect), which the update treats as an unreachable server.
    const bool answered = cpGetElapsedMs(m_connectStart) < kConnectTimeoutSeconds * 1000 / 2;
    Fail(answered ? SESSION_ERROR_UNREACHABLE : SESSION_ERROR_CONNECT_TIMEOUT);
}

void CDownloadSession::OnRecvTimeout(int32_t)
{
    Fail(SESSION_ERROR_RECEIVE_TIMEOUT);
}

void CDownloadSession::OnHostUnreach(int32_t)
{
    Fail(SESSION_ERROR_UNREACHABLE);
}
