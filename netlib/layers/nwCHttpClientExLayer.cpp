#include "netlib/layers/nwCHttpClientExLayer.h"

#include "netlib/core/vqCKeepAlive.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/http/UrlCredentials.h"
#include "netlib/runtime/cpADDRESS.h"
#include "netlib/runtime/cpCAddressCache.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <strings.h>

#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace {

constexpr uint16_t kHttpPort = 80;
constexpr uint16_t kHttpsPort = 443;

struct ParsedUrl {
    bool secure = false;
    std::string host;
    uint16_t port = 0;
    std::string target;
};

// Digits only, 1..65535: anything else would connect somewhere the URL does
// not name.
bool ParsePort(const std::string& text, uint16_t* port)
{
    uint32_t value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return false;
        value = value * 10 + static_cast<uint32_t>(ch - '0');
        if (value > 65535) return false;
    }
    if (value == 0) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

// A host name goes into the address cache, the context (255 bytes at most)
// and the "Host" line: control bytes and spaces have no place in any of them.
bool IsHostName(const std::string& host)
{
    if (host.empty() || host.size() > 255) return false;
    for (unsigned char byte : host)
        if (byte <= 0x20 || byte == 0x7F) return false;
    return true;
}

// The texts say what is wrong with a URL that Connect refuses.
constexpr const char* kNotHttp = "not an http:// or https:// URL";
constexpr const char* kNoHost = "no host in the URL";
constexpr const char* kBadPort = "the port is not a number from 1 to 65535";
constexpr const char* kBadHost = "the host name holds blanks or control bytes, or is too long";

bool ParseUrl(const char* url, ParsedUrl* parsed, const char** fault = nullptr)
{
    const char* ignored = nullptr;
    const char*& why = fault ? *fault : ignored;
    why = kNotHttp;
    if (!url || !*url) return false;
    const char* rest;
    if (strncasecmp(url, "http://", 7) == 0) {
        parsed->secure = false;
        parsed->port = kHttpPort;
        rest = url + 7;
    } else if (strncasecmp(url, "https://", 8) == 0) {
        parsed->secure = true;
        parsed->port = kHttpsPort;
        rest = url + 8;
    } else {
        return false;
    }
    why = kNoHost;
    if (!*rest) return false;
    const char* slash = strchr(rest, '/');
    const std::string authority = slash ? std::string(rest, slash) : std::string(rest);
    parsed->target = slash ? slash : "";
    const size_t colon = authority.find(':');
    parsed->host = authority.substr(0, colon);
    if (parsed->host.empty()) return false;
    why = kBadPort;
    // An empty port ("host:") means the scheme's default, as in any URI.
    if (colon != std::string::npos && colon + 1 < authority.size() &&
        !ParsePort(authority.substr(colon + 1), &parsed->port))
        return false;
    why = kBadHost;
    return IsHostName(parsed->host);
}

// What one listener call can be offered and answer (its length is an int32).
constexpr uint32_t kMaxDelivery = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());

} // namespace

std::string nwCHttpClientExLayer::WhyUnusable(const char* url)
{
    std::string credentials;
    const std::string located = SplitUrlCredentials(url ? url : "", &credentials);
    ParsedUrl parsed;
    const char* fault = nullptr;
    if (!ParseUrl(located.c_str(), &parsed, &fault)) return fault;
    uint32_t ip = 0;
    if (!cpCAddressCache::Instance().GetAddress(parsed.host.c_str(), parsed.port, &ip))
        return "host " + parsed.host + " not found";
    return std::string();
}

// Every notification runs under a vqCKeepAlive on the layer, so that a
// listener releasing the last outside reference cannot free the layer (and
// its dispatcher, which may be mid-feed) under its own frames.

nwCHttpClientExLayer::nwCHttpClientExLayer()
{
    Initialize();
}

nwCHttpClientExLayer::~nwCHttpClientExLayer()
{
    m_listener = nullptr;
}

void nwCHttpClientExLayer::Initialize()
{
    m_dispatcher.AddRawHandler(&nwCHttpClientExLayer::ReceiveThunk, this);
}

vqRESULT nwCHttpClientExLayer::AddRef()
{
    ++m_refCount;
    return VQ_OK;
}

vqRESULT nwCHttpClientExLayer::Release()
{
    if (--m_refCount == 0) delete this;
    return VQ_OK;
}

vqRESULT nwCHttpClientExLayer::QueryInterface(uint32_t interfaceId, void** out)
{
    if (interfaceId != IID_nwIQoSNetStack || !out) return VQ_E_NETWORK;
    *out = static_cast<nwIQoSNetStack*>(this);
    return VQ_OK_NETWORK;
}

vqRESULT nwCHttpClientExLayer::SetEventListener(nwIHttpClientExEventListener* listener, int32_t cookie)
{
    m_listener = listener;
    m_cookie = cookie;
    return VQ_OK_NETWORK;
}

vqRESULT nwCHttpClientExLayer::Connect(const char* url)
{
    if (!m_context || m_connectIssued) return VQ_E_NETWORK;
    ParsedUrl parsed;
    std::string credentials;
    const std::string located = SplitUrlCredentials(url ? url : "", &credentials);
    if (!ParseUrl(located.c_str(), &parsed)) return VQ_E_NETWORK;
    cpADDRESS address{0, parsed.port};
    if (!cpCAddressCache::Instance().GetAddress(parsed.host.c_str(), parsed.port, &address.ip)) return VQ_E_NETWORK;
    if (parsed.secure) {
        vqIUnknown* tls = nullptr;
        const bool present = VQ_SUCCEEDED(m_context->FindLayer(CLSID_nwCSecureSocketClientLayer, &tls)) && tls;
        if (!present && VQ_FAILED(m_context->AddLayer(CLSID_nwCSecureSocketClientLayer, true))) return VQ_E_NETWORK;
    }
    m_target = parsed.target.c_str();
    // A port other than the scheme's own is part of the authority the server
    // must see (virtual hosts, absolute redirects it builds from Host).
    const uint16_t schemePort = parsed.secure ? kHttpsPort : kHttpPort;
    const std::string authority =
        parsed.port == schemePort ? parsed.host : parsed.host + ":" + std::to_string(parsed.port);
    m_request.SetHeader("Host", authority.c_str());
    if (!credentials.empty()) m_request.SetHeader("Authorization", BasicAuthorization(credentials).c_str());
    RemoveEventMask(QOS_EVENT_SEND_DRAINED);
    m_context->SetHostName(parsed.host.c_str());
    m_context->SetAddress(address);
    // A context that refuses the connect would never report anything: say so
    // now rather than leave the listener waiting.
    if (VQ_FAILED(nwCApplicationStack::Connect(address))) return VQ_E_NETWORK;
    m_connectIssued = true;
    return VQ_OK_NETWORK;
}

vqRESULT nwCHttpClientExLayer::SetRequestHeader(const char* name, const char* value)
{
    if (!name || !*name || !value || !*value) return VQ_E_NETWORK;
    return m_request.SetHeader(name, value) ? VQ_OK_NETWORK : VQ_E_NETWORK;
}

vqRESULT nwCHttpClientExLayer::SetQueryParameter(const char* name, const char* value)
{
    if (!name || !*name || !value || !*value) return VQ_E_NETWORK;
    return m_request.SetParameter(name, value) ? VQ_OK_NETWORK : VQ_E_NETWORK;
}

vqRESULT nwCHttpClientExLayer::GetStatusCode(int32_t* status)
{
    if (!status) return VQ_E_NETWORK;
    *status = m_response.GetStatusCode();
    return VQ_OK_NETWORK;
}

vqRESULT nwCHttpClientExLayer::GetContentLength(int64_t* length)
{
    if (!length) return VQ_E_NETWORK;
    *length = 0;
    // A field that is there but cannot be trusted is not the same as none.
    return m_response.ReadContentLength(length) == nwCHttpHeaderParser::LengthField::kInvalid ? VQ_E_NETWORK
                                                                                               : VQ_OK_NETWORK;
}

vqRESULT nwCHttpClientExLayer::GetResponseHeader(const char* name, vqCString* value)
{
    const vqCString* found = m_response.Find(name);
    if (!found || !value) return VQ_E_NETWORK;
    *value = *found;
    return VQ_OK_NETWORK;
}

vqRESULT nwCHttpClientExLayer::GetResponseHeaderText(vqCString* text)
{
    if (!text || m_response.GetRawText().IsEmpty()) return VQ_E_NETWORK;
    *text = m_response.GetRawText();
    return VQ_OK_NETWORK;
}

vqRESULT nwCHttpClientExLayer::SendText(const vqCString& text)
{
    return VQ_SUCCEEDED(SendToLower(vqBUFFER{text.GetString(), text.GetLength()})) ? VQ_OK_NETWORK : VQ_E_NETWORK;
}

vqRESULT nwCHttpClientExLayer::SendGetRequest()
{
    // Without Connect there is no "Host" and nowhere to send to.
    if (!m_connectIssued || m_request.IsBuilt()) return VQ_E_NETWORK;
    m_request.SetHeader("GET", m_target.GetString());
    vqCString text;
    m_request.Build(nwCHttpRequest::KIND_GET, text);
    return SendText(text);
}

vqRESULT nwCHttpClientExLayer::SendPostRequest(int64_t bodyLength)
{
    if (!m_connectIssued || m_request.IsBuilt() || bodyLength < 0) return VQ_E_NETWORK;
    m_postSent = true;
    m_postBodyLength = bodyLength;
    m_request.SetHeader("POST", m_target.GetString());
    m_request.SetContentLength(bodyLength);
    vqCString text;
    m_request.Build(nwCHttpRequest::KIND_POST, text);
    AddEventMask(QOS_EVENT_SEND_DRAINED);
    return SendText(text);
}

vqRESULT nwCHttpClientExLayer::SendBody(const void* data, int32_t length)
{
    // More bytes than announced would run into the closing delimiter and
    // corrupt the part the server stores.
    if (!data || length < 0 || !m_postSent || length > m_postBodyLength - m_bodySent) return VQ_E_NETWORK;
    if (length == 0) return VQ_OK_NETWORK;
    m_bodySent += length;
    return VQ_SUCCEEDED(SendToLower(vqBUFFER{data, static_cast<uint32_t>(length)})) ? VQ_OK_NETWORK : VQ_E_NETWORK;
}

bool nwCHttpClientExLayer::OnConnected()
{
    vqCKeepAlive<nwCHttpClientExLayer> keep(this);
    if (m_listener) m_listener->OnConnected(m_cookie);
    return true;
}

bool nwCHttpClientExLayer::OnUnreachable()
{
    vqCKeepAlive<nwCHttpClientExLayer> keep(this);
    if (m_listener) m_listener->OnHostUnreach(m_cookie);
    return true;
}

bool nwCHttpClientExLayer::OnEvent(uint32_t code, int32_t value)
{
    vqCKeepAlive<nwCHttpClientExLayer> keep(this);
    return nwCApplicationStack::OnEvent(code, value);
}

bool nwCHttpClientExLayer::OnConnectTimeout()
{
    if (m_listener) m_listener->OnConnectTimeout(m_cookie);
    return true;
}

bool nwCHttpClientExLayer::OnIdleTimeout()
{
    if (m_listener) m_listener->OnRecvTimeout(m_cookie);
    return true;
}

bool nwCHttpClientExLayer::OnSendDrained()
{
    if (m_postBodyLength > 0 && m_bodySent >= m_postBodyLength) {
        if (m_trailerSent) return true;
        vqCString trailer;
        m_request.BuildTrailer(trailer);
        if (trailer.IsEmpty()) return true;
        m_trailerSent = true;
        RemoveEventMask(QOS_EVENT_SEND_DRAINED);
        SendText(trailer);
        return true;
    }
    if (m_listener) m_listener->OnSendReady(m_cookie);
    return true;
}

void nwCHttpClientExLayer::OnClose()
{
    vqCKeepAlive<nwCHttpClientExLayer> keep(this);
    nwCApplicationStack::OnClose();
}

void nwCHttpClientExLayer::OnClosed()
{
    // Forgotten before the call, so that nothing the listener does inside it
    // can bring another event to it.
    nwIHttpClientExEventListener* listener = m_listener;
    m_listener = nullptr;
    if (listener) listener->OnClosed(m_cookie);
}

int32_t nwCHttpClientExLayer::OnReceive(const unsigned char* bytes, uint32_t length)
{
    vqCKeepAlive<nwCHttpClientExLayer> keep(this);
    return nwCApplicationStack::OnReceive(bytes, length);
}

int32_t nwCHttpClientExLayer::ReceiveThunk(const unsigned char* bytes, uint32_t length, void* userData)
{
    return static_cast<nwCHttpClientExLayer*>(userData)->Receive(bytes, length);
}

int32_t nwCHttpClientExLayer::Receive(const unsigned char* bytes, uint32_t length)
{
    return m_headerReceived ? ReceiveBody(bytes, length) : ReceiveHeader(bytes, length);
}

int32_t nwCHttpClientExLayer::ReceiveHeader(const unsigned char* bytes, uint32_t length)
{
    const uint32_t window = length < kMaxHeaderBlock ? length : kMaxHeaderBlock;
    const std::string_view text(reinterpret_cast<const char*>(bytes), window);
    // Three bytes back: the previous search may have stopped inside the
    // terminator.
    uint32_t from = m_headerSearched >= 3 ? m_headerSearched - 3 : 0;
    if (from > window) from = 0;
    const size_t end = text.find("\r\n\r\n", from);
    if (end == std::string_view::npos) {
        if (length >= kMaxHeaderBlock) return -1;
        m_headerSearched = window;
        return 0;
    }
    const uint32_t headerLength = static_cast<uint32_t>(end) + 4;
    m_headerReceived = true;
    m_response.Parse(text.data(), headerLength);
    if (m_listener) m_listener->OnResponseHeader(m_cookie);
    return static_cast<int32_t>(headerLength);
}

int32_t nwCHttpClientExLayer::ReceiveBody(const unsigned char* bytes, uint32_t length)
{
    const int64_t contentLength = m_response.GetContentLength();
    // Bytes past Content-Length are not this response's body: a listener that
    // writes into a body-sized buffer must never see them.
    if (contentLength > 0 && m_bodyReceived >= contentLength)
        return static_cast<int32_t>(length < kMaxDelivery ? length : kMaxDelivery);
    if (!m_listener) return 0;
    int64_t offered = length;
    if (contentLength > 0 && offered > contentLength - m_bodyReceived) offered = contentLength - m_bodyReceived;
    if (offered > kMaxDelivery) offered = kMaxDelivery;
    const int32_t consumed = m_listener->OnReceiveData(m_cookie, bytes, static_cast<int32_t>(offered));
    if (consumed < 0 || consumed > offered) return -1;
    m_bodyReceived += consumed;
    if (contentLength > 0 && m_bodyReceived >= contentLength && m_listener && !m_completeReported) {
        m_completeReported = true;
        m_listener->OnReceiveComplete(m_cookie);
    }
    return consumed;
}
