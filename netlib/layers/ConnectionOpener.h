#pragma once
// The start of a session's connection, the same for every session: create a
// QoS context, open it with an action and an event mask, set its limits, add
// its layer and (for HTTP) set the listener and connect. The end of it is
// ReleaseHttpConnection (HttpConnection.h).
//
// Contract:
// - `connection` receives the context as soon as it exists, before anything
//   can fail or fire, so the caller's usual failure path (release it) covers
//   every outcome; a false answer leaves whatever was made in `connection`.
// - OpenHttpConnection connects last. The HTTP layer may call the listener
//   from inside Connect (a connect that fails at once); the listener may then
//   release the connection and destroy its owner, `connection` included:
//   after Connect the opener touches nothing of the caller's.
// - Limits of 0 leave the context's defaults.

#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/cpCQoSContextAction.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <cstdint>
#include <optional>

class nwIHttpClientExEventListener;

// The receive round of a connection that wants only an answer's header (a
// size probe): one read, so the header reaches the layers before the body
// behind it is pulled out of the socket.
constexpr int32_t kHeaderOnlyReceiveRound = 1024;

struct ConnectionOptions {
    int action = cpQOS_HIGH;
    // A silent peer and a connect that never completes are the events every
    // session wants to hear about.
    uint32_t eventMask = QOS_EVENT_CONNECT_TIMEOUT | QOS_EVENT_IDLE;
    int32_t connectTimeoutSeconds = 0;
    int32_t idleSeconds = 0;
    // The action the context moves to once its layer is in (a receive-only
    // action with a budget of its own); unset keeps `action`.
    std::optional<int> laterAction;
    // Bytes per second the action may receive; unset leaves it unlimited.
    std::optional<int32_t> receiveLimit;
    // Bytes one receive run may take before the layers see them
    // (QOS_PARAM_RECEIVE_ROUND); 0 keeps the pump's own bound.
    int32_t receiveRound = 0;
    uint32_t layerClass = CLSID_nwCHttpClientExLayer;
    // Only for OpenHttpConnection: who hears the HTTP layer, with which cookie.
    nwIHttpClientExEventListener* listener = nullptr;
    int32_t cookie = 0;
};

// Create, open, set the limits and add the layer; no connect.
bool OpenConnection(const ConnectionOptions& options, vqSmartPtr& connection);
// The end of a connection whose open failed before any listener was set:
// close it and hand it to the collector. Safe on an empty pointer.
void DiscardConnection(vqSmartPtr& connection);
// OpenConnection, then the HTTP layer's listener and its connect to url. The
// request itself is the caller's (headers first, then SendGetRequest).
bool OpenHttpConnection(const ConnectionOptions& options, const char* url, vqSmartPtr& connection);
