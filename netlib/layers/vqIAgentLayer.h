#pragma once
// The application face of the agent layer: transfer reports out, one-byte
// replies in (through nwIAgentListener).
//
// Contract: called on the service thread or under the network lock. The
// listener is not owned. SendReport copies the entries before it returns.

#include "netlib/core/vqIUnknown.h"
#include "netlib/layers/nwIAgentListener.h"

#include <cstdint>

// One report: count entries of kAgentEntrySize bytes each, laid out by the
// caller (service identifier, URL entry, bytes received, flag).
struct vqAGENTREPORT {
    int32_t count;
    const unsigned char* entries;
};

constexpr uint32_t kAgentEntrySize = 298;
constexpr uint16_t kAgentFrameType = 768;
constexpr uint16_t kAgentReportSubtype = 154;
constexpr uint16_t kAgentReplySubtype = 131;

class vqIAgentLayer : public vqIUnknown {
public:
    // Null detaches; events then reach nobody.
    virtual vqRESULT SetEventListener(nwIAgentListener* listener, int32_t cookie) = 0;
    virtual vqRESULT SendReport(const vqAGENTREPORT& report) = 0;
};
