#include "netlib/Lib_SSL/nwCSecureSocketClientLayer.h"

#include "netlib/core/vqCKeepAlive.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqLog.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <string>

// Marks one call into OpenSSL. Calls nest (queued plaintext is written from
// inside the feed that completes the handshake); a close that came in the
// meantime frees the TLS connection when the outermost call ends.
class nwCSecureSocketClientLayer::TlsCall {
public:
    explicit TlsCall(nwCSecureSocketClientLayer* layer) : m_layer(layer) { ++m_layer->m_inTlsCall; }
    ~TlsCall()
    {
        if (--m_layer->m_inTlsCall == 0 && m_layer->m_closeRequested) {
            m_layer->m_closeRequested = false;
            m_layer->FreeTls();
        }
    }
    TlsCall(const TlsCall&) = delete;
    TlsCall& operator=(const TlsCall&) = delete;

private:
    nwCSecureSocketClientLayer* m_layer;
};

// Bytes travel up under a vqCKeepAlive: the layers above may run owner code
// that lets go of the context.

nwCSecureSocketClientLayer::nwCSecureSocketClientLayer()
{
    Initialize();
}

nwCSecureSocketClientLayer::~nwCSecureSocketClientLayer()
{
    delete m_tls;
}

void nwCSecureSocketClientLayer::Initialize()
{
    m_dispatcher.AddRawHandler(&nwCSecureSocketClientLayer::ReceiveThunk, this);
}

vqRESULT nwCSecureSocketClientLayer::AddRef()
{
    ++m_refCount;
    return VQ_OK;
}

vqRESULT nwCSecureSocketClientLayer::Release()
{
    if (--m_refCount == 0) delete this;
    return VQ_OK;
}

vqRESULT nwCSecureSocketClientLayer::QueryInterface(uint32_t interfaceId, void** out)
{
    if (interfaceId != IID_nwIQoSNetStack || !out) return VQ_E_NETWORK;
    *out = static_cast<nwIQoSNetStack*>(this);
    return VQ_OK_NETWORK;
}

void nwCSecureSocketClientLayer::FreeTls()
{
    delete m_tls;
    m_tls = nullptr;
}

void nwCSecureSocketClientLayer::CloseWithLogLine()
{
    if (m_tls) {
        const std::string line = m_tls->FailureText();
        vqLogLine(line.c_str());
        const std::string prefix = "[MeshpullLib] ";
        m_failure = line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : line;
    }
    Close();
}

vqRESULT nwCSecureSocketClientLayer::GetFailureText(vqCString* text)
{
    if (!text || m_failure.empty()) return VQ_E_NETWORK;
    *text = m_failure.c_str();
    return VQ_OK_NETWORK;
}

vqRESULT nwCSecureSocketClientLayer::SendDown(const vqBUFFER& buffer)
{
    if (!buffer.data || buffer.length == 0) return VQ_OK_NETWORK;
    const auto* bytes = static_cast<const unsigned char*>(buffer.data);
    // Behind queued blocks too, so that plaintext leaves in the order given.
    if (!m_handshakeComplete || !m_outbound.empty()) {
        m_outbound.emplace_back(bytes, bytes + buffer.length);
        return VQ_OK_NETWORK;
    }
    if (!m_tls) return VQ_E_NETWORK;
    TlsCall call(this);
    m_tls->Write(bytes, buffer.length);
    return VQ_OK_NETWORK;
}

bool nwCSecureSocketClientLayer::OnConnected()
{
    if (m_tls) return true;
    const char* host = nullptr;
    if (m_context) m_context->GetHostName(&host);
    const COpenSSLCallbacks callbacks{this, &SendCiphertextThunk, &HandshakeCompleteThunk, &PlaintextReceivedThunk};
    m_tls = COpenSSL::Create(callbacks, host);
    if (!m_tls) {
        vqLogLine((std::string("[MeshpullLib] TLS with ") + (host && *host ? host : "(no host)") +
                   " could not start")
                      .c_str());
        Close();
        return false;
    }
    bool started;
    {
        TlsCall call(this);
        started = VQ_SUCCEEDED(m_tls->StartHandshake());
        if (!started && !m_closeRequested) CloseWithLogLine();
    }
    return started;
}

void nwCSecureSocketClientLayer::OnClosed()
{
    // Nothing goes out or up after a close; the context may wait in the
    // collector for seconds, so the buffers go now.
    m_outbound.clear();
    m_remainder.clear();
    m_remainder.shrink_to_fit();
    if (m_inTlsCall > 0) m_closeRequested = true;
    else FreeTls();
}

bool nwCSecureSocketClientLayer::OnSendDrained()
{
    if (m_outbound.empty()) return true;
    // The layers above must not hear "drained" while their bytes wait here
    // for the handshake: writing them now would hand them to a connection
    // that cannot carry them yet.
    if (!m_handshakeComplete || !m_tls) return false;
    const std::vector<unsigned char> block = std::move(m_outbound.front());
    m_outbound.pop_front();
    WriteThroughTls(block);
    return false;
}

void nwCSecureSocketClientLayer::WriteThroughTls(const std::vector<unsigned char>& block)
{
    if (!m_tls || m_closeRequested) return;
    TlsCall call(this);
    m_tls->Write(block.data(), static_cast<uint32_t>(block.size()));
}

int32_t nwCSecureSocketClientLayer::ReceiveThunk(const unsigned char* bytes, uint32_t length, void* userData)
{
    return static_cast<nwCSecureSocketClientLayer*>(userData)->Receive(bytes, length);
}

int32_t nwCSecureSocketClientLayer::Receive(const unsigned char* bytes, uint32_t length)
{
    if (!m_tls) return -1;
    vqCKeepAlive<nwCSecureSocketClientLayer> keep(this);
    uint32_t consumed = 0;
    bool failed = false;
    bool peerClosed = false;
    {
        TlsCall call(this);
        if (m_handshakeComplete) {
            const COpenSSL::FeedOutcome outcome = m_tls->FeedData(bytes, length, &consumed);
            failed = outcome == COpenSSL::FEED_FAILED;
            peerClosed = outcome == COpenSSL::FEED_PEER_CLOSED;
        } else {
            failed = VQ_FAILED(m_tls->FeedHandshake(bytes, length, &consumed));
        }
        // A close from above during the call already ends the connection.
        if (m_closeRequested) return 0;
        if (failed) CloseWithLogLine();
        else if (peerClosed) Close();
    }
    if (failed || peerClosed) return 0;
    return static_cast<int32_t>(consumed);
}

void nwCSecureSocketClientLayer::SendCiphertextThunk(const unsigned char* data, uint32_t length, void* user)
{
    auto* layer = static_cast<nwCSecureSocketClientLayer*>(user);
    // OpenSSL may go on writing within the call that saw the close.
    if (!layer->m_closeRequested) layer->SendToLower(vqBUFFER{data, length});
}

void nwCSecureSocketClientLayer::HandshakeCompleteThunk(void* user)
{
    static_cast<nwCSecureSocketClientLayer*>(user)->HandshakeComplete();
}

void nwCSecureSocketClientLayer::PlaintextReceivedThunk(const unsigned char* data, uint32_t length, void* user)
{
    static_cast<nwCSecureSocketClientLayer*>(user)->PlaintextReceived(data, length);
}

void nwCSecureSocketClientLayer::HandshakeComplete()
{
    m_handshakeComplete = true;
    // Each block leaves the queue before it is written: writing may drain the
    // context's queue, and the drained event takes the next block itself.
    while (!m_outbound.empty() && m_tls && !m_closeRequested) {
        const std::vector<unsigned char> block = std::move(m_outbound.front());
        m_outbound.pop_front();
        WriteThroughTls(block);
    }
}

void nwCSecureSocketClientLayer::PlaintextReceived(const unsigned char* data, uint32_t length)
{
    std::vector<unsigned char> joined;
    const unsigned char* up = data;
    uint32_t upLength = length;
    if (!m_remainder.empty()) {
        joined.swap(m_remainder);
        joined.insert(joined.end(), data, data + length);
        up = joined.data();
        upLength = static_cast<uint32_t>(joined.size());
    }
    const int32_t consumed = DeliverUp(up, upLength);
    if (m_closeRequested) return;
    if (consumed < 0 || static_cast<uint32_t>(consumed) > upLength) {
        Close();
        return;
    }
    if (static_cast<uint32_t>(consumed) < upLength) m_remainder.assign(up + consumed, up + upLength);
}
