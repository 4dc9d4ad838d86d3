#pragma once
// The application face of the HTTP client layer (class id 0x200F): one
// HTTP/1.1 request per instance over the connection context that holds it.
//
// Use: add the layer on top of an opened context (AddLayer(0x200F, false)),
// take the context's top layer as this interface, SetEventListener, Connect
// with the URL, optionally SetRequestHeader / SetQueryParameter, then
// SendGetRequest (or SendPostRequest and the body through SendBody). The
// request may be sent before the connection is up; the context queues it.
//
// Contract:
// - Results: VQ_OK_NETWORK on success, VQ_E_NETWORK on failure; a failed
//   call changes nothing on the wire.
// - Connect accepts "http://" and "https://" (scheme case ignored), an
//   authority of host and optional decimal port (1..65535; empty means the
//   scheme's default), and an optional target from the first "/" on. It
//   fails for anything else, for a host the address cache cannot resolve,
//   when no TLS layer can be put below for "https://", when the context
//   refuses the connect, and after a Connect that succeeded.
// - Headers and parameters may be set until the request is sent; a header
//   set again under the same name (ASCII case ignored) replaces the value.
// - Exactly one request per instance: sending needs a successful Connect
//   and fails once a request has gone out.
// - The response getters read what OnResponseHeader announced; before it
//   they find nothing (status 0, Content-Length 0, no fields).
// - All calls on the service thread or under the network lock.
//
// The owner holds the context, the context holds the layer; the layer keeps
// plain pointers to both the context and the listener.

#include "netlib/core/vqCString.h"
#include "netlib/core/vqIUnknown.h"

#include <cstdint>

class nwIHttpClientExEventListener;

class vqIHttpClientExLayer : public vqIUnknown {
public:
    // Null detaches: no further event is delivered.
    virtual vqRESULT SetEventListener(nwIHttpClientExEventListener* listener, int32_t cookie) = 0;
    virtual vqRESULT Connect(const char* url) = 0;
    // Fails for a null or empty name or value.
    virtual vqRESULT SetRequestHeader(const char* name, const char* value) = 0;
    virtual vqRESULT SetQueryParameter(const char* name, const char* value) = 0;
    virtual vqRESULT GetStatusCode(int32_t* status) = 0;
    // The Content-Length, 0 when absent; fails (with 0) when a field is there
    // but unusable: not wholly digits, too large, or two that disagree.
    virtual vqRESULT GetContentLength(int64_t* length) = 0;
    // The first field named name (ASCII case ignored; with or without the
    // colon), its value as received; fails when none matches.
    virtual vqRESULT GetResponseHeader(const char* name, vqCString* value) = 0;
    // The header block as received; fails before it has arrived.
    virtual vqRESULT GetResponseHeaderText(vqCString* text) = 0;
    virtual vqRESULT SendGetRequest() = 0;
    // A multipart/form-data POST whose one part carries bodyLength bytes,
    // which the caller then sends through SendBody as OnSendReady asks; the
    // layer sends the closing delimiter once all of them have gone out.
    virtual vqRESULT SendPostRequest(int64_t bodyLength) = 0;
    // Fails for null data, a negative length, without a POST, or when the
    // bytes would run past the announced body length.
    virtual vqRESULT SendBody(const void* data, int32_t length) = 0;
};
