#pragma once
// What the HTTP client layer tells its user about one request.
//
// Contract:
// - Every call comes on the service thread with the network lock held and
//   passes first the cookie given with SetEventListener.
// - Order: OnConnected; OnResponseHeader once the whole header block has
//   arrived; OnReceiveData for body bytes; OnReceiveComplete once, when the
//   body has reached Content-Length; OnClosed last, after which the layer has
//   forgotten the listener and calls nothing more. OnConnectTimeout,
//   OnHostUnreach and OnRecvTimeout may come at any time before OnClosed;
//   OnSendReady only for a POST.
// - OnReceiveData answers how many of the offered bytes it consumed, from
//   the front (0..length). Unconsumed bytes are offered again: at once if
//   some were consumed, else with the next arrival. A negative answer closes
//   the connection. Bytes past Content-Length are never offered.
// - Inside any call the listener may read the response, send, detach
//   (SetEventListener(nullptr)), close the connection, hand the connection
//   to the deferred-release collector and destroy itself or its owner. It
//   must detach before it is destroyed; the layer then calls nothing more and
//   touches nothing of the listener. The layer stays valid until its own call
//   returns.
// - The layer does not own the listener.

#include <cstdint>

class nwIHttpClientExEventListener {
public:
    // The transport connection is up (over TLS: the handshake has started;
    // what is sent from now on waits for it).
    virtual void OnConnected(int32_t cookie) = 0;
    // Status, fields and Content-Length are readable from now on.
    virtual void OnResponseHeader(int32_t cookie) = 0;
    virtual int32_t OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length) = 0;
    virtual void OnReceiveComplete(int32_t cookie) = 0;
    // The send queue drained during a POST and the layer wants more body (or
    // the POST has no body).
    virtual void OnSendReady(int32_t cookie) = 0;
    virtual void OnClosed(int32_t cookie) = 0;
    // The connect did not complete in time, was refused or the host was
    // unreachable; OnClosed follows.
    virtual void OnConnectTimeout(int32_t cookie) = 0;
    // No data for the context's idle limit; the connection stays open.
    virtual void OnRecvTimeout(int32_t cookie) = 0;
    // The connect failed with the host unreachable; the connect-failure path
    // (OnConnectTimeout, OnClosed) follows.
    virtual void OnHostUnreach(int32_t cookie) = 0;

protected:
    ~nwIHttpClientExEventListener() = default;
};
