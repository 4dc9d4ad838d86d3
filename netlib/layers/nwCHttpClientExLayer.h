#pragma once
// The HTTP/1.1 client layer (class id 0x200F): turns one request into text
// for the layer below, finds the end of the response header block, parses
// it, streams the body to its listener and turns the context's events into
// listener events. For "https://" it puts a TLS client layer (class id
// 0x2017) below itself in the same context.
//
// Contract towards the context (see nwIQoSNetStack.h): every notification
// answers true, so the layers above see it too. A notification may run
// listener code that releases the owner's last reference on the layer or on
// the context; the layer holds a reference on itself for the length of each
// notification and touches neither the context nor a listener after a
// listener call that may have ended them.
//
// Limits: a response header block longer than kMaxHeaderBlock bytes fails
// the response (OnReceive answers -1, the context closes, the listener sees
// OnClosed).

#include "netlib/core/vqCString.h"
#include "netlib/http/nwCHttpHeaderParser.h"
#include "netlib/http/nwCHttpRequest.h"
#include "netlib/layers/nwIHttpClientExEventListener.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/nwCApplicationStack.h"

#include <cstdint>
#include <string>

class nwCHttpClientExLayer : public nwCApplicationStack, public vqIHttpClientExLayer {
public:
    // Far above the header blocks that servers send (a few hundred bytes for
    // a file), small enough that a peer that never ends its header block
    // cannot grow our memory.
    static constexpr uint32_t kMaxHeaderBlock = 64 * 1024;

    // Why Connect would refuse url before any connection is tried (no
    // scheme we speak, no host, a bad port, a host that does not resolve),
    // as a message's cause; empty when it would not.
    static std::string WhyUnusable(const char* url);

    nwCHttpClientExLayer();
    ~nwCHttpClientExLayer() override;
    nwCHttpClientExLayer(const nwCHttpClientExLayer&) = delete;
    nwCHttpClientExLayer& operator=(const nwCHttpClientExLayer&) = delete;

    // Both faces.
    vqRESULT AddRef() override;
    vqRESULT Release() override;
    // Answers IID_nwIQoSNetStack with the stack face; VQ_E_NETWORK otherwise.
    vqRESULT QueryInterface(uint32_t interfaceId, void** out) override;

    // vqIHttpClientExLayer
    vqRESULT SetEventListener(nwIHttpClientExEventListener* listener, int32_t cookie) override;
    vqRESULT Connect(const char* url) override;
    vqRESULT SetRequestHeader(const char* name, const char* value) override;
    vqRESULT SetQueryParameter(const char* name, const char* value) override;
    vqRESULT GetStatusCode(int32_t* status) override;
    vqRESULT GetContentLength(int64_t* length) override;
    vqRESULT GetResponseHeader(const char* name, vqCString* value) override;
    vqRESULT GetResponseHeaderText(vqCString* text) override;
    vqRESULT SendGetRequest() override;
    vqRESULT SendPostRequest(int64_t bodyLength) override;
    vqRESULT SendBody(const void* data, int32_t length) override;

    // The stack face (nwIQoSNetStack) keeps its Connect(address) too.
    using nwCApplicationStack::Connect;

    bool OnConnected() override;
    bool OnUnreachable() override;
    bool OnEvent(uint32_t code, int32_t value) override;
    int32_t OnReceive(const unsigned char* bytes, uint32_t length) override;
    void OnClose() override;
    void OnClosed() override;
    bool OnConnectTimeout() override;
    bool OnSendDrained() override;
    bool OnIdleTimeout() override;

private:

    void Initialize();
    static int32_t ReceiveThunk(const unsigned char* bytes, uint32_t length, void* userData);
    int32_t Receive(const unsigned char* bytes, uint32_t length);
    int32_t ReceiveHeader(const unsigned char* bytes, uint32_t length);
    int32_t ReceiveBody(const unsigned char* bytes, uint32_t length);
    vqRESULT SendText(const vqCString& text);

    int32_t m_refCount = 0;
    nwIHttpClientExEventListener* m_listener = nullptr;
    int32_t m_cookie = 0;
    nwCHttpRequest m_request;
    nwCHttpHeaderParser m_response;
    vqCString m_target;
    bool m_connectIssued = false;
    bool m_headerReceived = false;
    // How far the unfinished header block has been searched: the context
    // offers the same bytes again, followed by new ones, so the search goes
    // on from here instead of from the start.
    uint32_t m_headerSearched = 0;
    bool m_completeReported = false;
    bool m_trailerSent = false;
    int64_t m_bodyReceived = 0;
    int64_t m_bodySent = 0;
    bool m_postSent = false;
    int64_t m_postBodyLength = 0;
};
