#pragma once
// The end of a session's connection, the same for every session: detach from
// the top layer, close, hand the context to the deferred-release collector
// (its layers may still be on the call stack) and drop the session's
// reference. Safe on an empty pointer.

#include "netlib/core/vqSmartPtr.h"

class vqIHttpClientExLayer;

void ReleaseHttpConnection(vqSmartPtr& connection, bool markAddressFailed = false);
// The HTTP client layer on top of a connection, or null.
vqIHttpClientExLayer* HttpLayerOf(const vqSmartPtr& connection);
