#pragma once
// The end of a session's connection, the same for every session: detach from
// the top layer, close, hand the context to the deferred-release collector
// (its layers may still be on the call stack) and drop the session's
// reference. Safe on an empty pointer. The start of it is
// OpenHttpConnection (ConnectionOpener.h).

#include "netlib/core/vqSmartPtr.h"

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
