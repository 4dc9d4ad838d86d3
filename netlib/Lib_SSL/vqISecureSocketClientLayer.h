#pragma once
// The public face of the TLS client layer (class id 0x2017). It has nothing
// beyond vqIUnknown: the layer is driven entirely through its stack face by
// its connection context, and the HTTP client layer above it never calls it.

#include "netlib/core/vqIUnknown.h"

class vqISecureSocketClientLayer : public vqIUnknown {};
