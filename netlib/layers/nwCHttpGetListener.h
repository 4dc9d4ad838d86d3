#pragma once
// The base of every listener that fetches with GET: the calls such a session
// has nothing to do in are answered here once, each saying why. A session
// overrides one of them only when it does act on it. The contract is
// nwIHttpClientExEventListener's.

#include "netlib/layers/nwIHttpClientExEventListener.h"

class nwCHttpGetListener : public nwIHttpClientExEventListener {
public:
    // Nothing is due before the answer: the request is sent right after the
    // connect call and waits in the layer until the connection is up.
    void OnConnected(int32_t) override {}
    // A GET has no body to send.
    void OnSendReady(int32_t) override {}
    // The connect-failure path (OnConnectTimeout, then OnClosed) follows and
    // is where a session gives up on the host.
    void OnHostUnreach(int32_t) override {}

protected:
    ~nwCHttpGetListener() = default;
};
