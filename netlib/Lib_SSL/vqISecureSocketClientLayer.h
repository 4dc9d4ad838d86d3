#pragma once
// The public face of the TLS client layer (class id 0x2017). The layer is
// driven entirely through its stack face by its connection context; its
// owner may only ask, once the connection failed, why TLS failed.

#include "netlib/core/vqCString.h"
#include "netlib/core/vqIUnknown.h"

class vqISecureSocketClientLayer : public vqIUnknown {
public:
    // Why the layer closed the connection (a certificate not accepted, with
    // the verifier's reason, or the TLS error); fails while it has not.
    virtual vqRESULT GetFailureText(vqCString* text) = 0;
};
