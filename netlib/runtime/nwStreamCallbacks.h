#pragma once
// Receive handlers of a stream dispatcher.
//
// Contract: a typed handler gets one whole frame's payload (header removed);
// a raw handler gets every byte not yet consumed and answers how many it
// consumed from the front (0: wait for more; negative: close the connection).
// Both run on the service thread inside the context's delivery; they may
// stop the dispatcher (its layer closing) but must not destroy it.

#include <cstdint>

typedef void (*nwFrameCallback)(const unsigned char* payload, uint32_t length, void* userData);
typedef int32_t (*nwRawCallback)(const unsigned char* bytes, uint32_t length, void* userData);
