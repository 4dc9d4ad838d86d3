#pragma once
// The end of a session's connection, the same for every session: detach from
// the top layer, close, hand the context to the deferred-release collector
// (its layers may still be on the call stack) and drop the session's
// reference. Safe on an empty pointer. The start of it is
// OpenHttpConnection (ConnectionOpener.h).

#include "netlib/core/vqSmartPtr.h"

#include <cstdint>
#include <string>

class vqIHttpClientExLayer;

void ReleaseHttpConnection(vqSmartPtr& connection, bool markAddressFailed = false);
// The HTTP client layer on top of a connection, or null.
vqIHttpClientExLayer* HttpLayerOf(const vqSmartPtr& connection);
// Where the answer's "Location:" leads from currentUrl: the header converted
// from UTF-8 to the local code set and resolved; empty when it has none or
// names no usable target.
std::string RedirectTargetOf(vqIHttpClientExLayer* layer, const std::string& currentUrl);
// How an answer's body is framed: as it is (no Transfer-Encoding), in the
// chunked coding alone (read with nwCChunkedDecoder; any Content-Length is
// then no length of the body), or in a coding not read here.
enum class BodyCoding { kIdentity, kChunked, kOther };
BodyCoding BodyCodingOf(vqIHttpClientExLayer* layer);

// Causes for a failure's message, said the same way by every session.
// Why the connection did not come up: "connection refused", "no route to
// the host", or "no connection within N s" (timeoutSeconds, the connect
// timeout the session set).
std::string ConnectFailureText(const vqSmartPtr& connection, int32_t timeoutSeconds);
// Why TLS ended the connection ("TLS certificate of HOST not accepted:
// verify result N (reason)"); empty when it did not.
std::string TlsFailureText(const vqSmartPtr& connection);
// The answer's status as a cause: "HTTP 404 Not Found" (the reason phrase
// as the server gave it, without control bytes).
std::string StatusText(vqIHttpClientExLayer* layer);
