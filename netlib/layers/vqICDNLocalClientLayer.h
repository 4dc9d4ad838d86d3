#pragma once
// The application face of the local engine client layer (class id 0x2015):
// one framed message per operation to the download engine on this machine.
//
// Use: add the layer on top of an opened context (AddLayer(0x2015, false)),
// take the context's top layer as this interface, SetEventListener, then
// connect the context to the engine (127.0.0.1, kLocalEnginePort or the port
// in ZDR_ENGINE_PORT). Messages may be sent before the connection is up; the
// context queues them.
//
// Contract:
// - Every send answers VQ_OK_NETWORK once the frame is handed to the context
//   (what happens to it there is the context's business), or VQ_E_NETWORK
//   for arguments that cannot be encoded (a missing URL, a URL longer than
//   65535 bytes for SendJobFile, a negative file count); nothing is sent then.
// - The layer keeps no protocol state: it neither pairs answers with
//   requests nor checks their order.
// - Fixed fields are copied byte for byte from the caller's records.
// - All calls on the service thread or under the network lock. The listener
//   is not owned; null detaches it.

#include "netlib/core/vqIUnknown.h"
#include "netlib/layers/nwCDNLocalCodec.h"
#include "netlib/layers/nwICDNLocalClientEventListener.h"

#include <cstdint>

class vqICDNLocalClientLayer : public vqIUnknown {
public:
    virtual vqRESULT SetEventListener(nwICDNLocalClientEventListener* listener, int32_t cookie) = 0;
    // mode: kLocalOptionsHighSpeed with the user's consent, else kLocalOptionsPlain.
    virtual vqRESULT SendJobOptions(uint8_t mode) = 0;
    virtual vqRESULT SendJobTag(const char tag[kLocalTagField]) = 0;
    // The whole job in one message; files holds header.fileCount entries.
    virtual vqRESULT SendJob(const vqLOCALJOBHEADER& header, const vqLOCALJOBFILE* files) = 0;
    virtual vqRESULT SendJobHeader(const vqLOCALJOBHEADER& header) = 0;
    virtual vqRESULT SendJobFile(int32_t jobNumber, int32_t fileIndex, const vqLOCALJOBFILE& file) = 0;
    virtual vqRESULT SendJobEnd(int32_t jobNumber) = 0;
    virtual vqRESULT SendStopJob(int32_t jobNumber, int32_t taskNumber) = 0;
    // At most 259 characters; null sends an empty identifier.
    virtual vqRESULT SendServiceId(const char* serviceId) = 0;
    virtual vqRESULT SendMessage13(const unsigned char bytes[kLocalMessage13Size]) = 0;
    virtual vqRESULT SendJobEngineFlag(int32_t jobNumber) = 0;
    virtual vqRESULT SendResumeAnswer(int32_t taskNumber, int32_t jobNumber, uint8_t resume, uint8_t applyToAll) = 0;
    virtual vqRESULT SendMessage22() = 0;
};
