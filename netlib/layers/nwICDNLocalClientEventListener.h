#pragma once
// What the local engine client layer tells its listener (the engine
// downloader): the connection's life and every message of the engine.
//
// Contract:
// - Every call comes on the service thread with the network lock held, from
//   inside the connection's event handling, and only while a listener is
//   set. Most calls pass the cookie given with SetEventListener.
// - Order: OnLocalConnected once the connection is up; any number of message
//   calls; OnLocalClosed once, for every kind of end. A connect that times
//   out, is refused or finds the host unreachable gives OnLocalConnectTimeout
//   first, then OnLocalClosed. The layer does not detach the listener itself.
// - Records and the texts they point at live only during the call; copy what
//   must outlive it. A progress record with no file records has records null.
// - Inside any call the listener may send, detach, close the connection or
//   hand it to the deferred-release collector, and destroy itself after
//   detaching; it must not drop the last reference to the connection there.
// - A message from the engine that has no handler, or that is malformed (a
//   field or text running past its payload, a record count that cannot fit),
//   reaches no message call: OnLocalProtocolError says so (the peer does not
//   speak the engine's protocol), then the connection closes and
//   OnLocalClosed follows.
// - The layer does not own the listener.

#include "netlib/layers/nwCDNLocalCodec.h"

#include <cstdint>

class nwICDNLocalClientEventListener {
public:
    virtual void OnLocalConnected(int32_t cookie) = 0;
    virtual void OnLocalJobAccepted(const vqLOCALJOBACCEPTED* record, int32_t cookie) = 0;
    virtual void OnLocalJobRejected(const vqLOCALJOBREJECTED* record, int32_t cookie) = 0;
    virtual void OnLocalJobProgress(const vqLOCALPROGRESS* record, int32_t cookie) = 0;
    virtual void OnLocalFileDone(const vqLOCALFILEDONE* record, int32_t cookie) = 0;
    virtual void OnLocalFileDoneEx(const vqLOCALFILEDONEEX* record, int32_t cookie) = 0;
    // valueB non-zero: the engine gave the job up.
    virtual void OnLocalJobFinished(const vqLOCALJOBFINISHED* record, int32_t cookie) = 0;
    // kind kLocalErrorDiskSpace: not enough disk space; kLocalErrorTransfer:
    // a file failed for the reason in text (job finished, given up, follows).
    virtual void OnLocalJobError(const vqLOCALJOBERROR* record, int32_t cookie) = 0;
    virtual void OnLocalNetworkLost(const vqLOCALNETWORKNOTICE* record, int32_t cookie) = 0;
    virtual void OnLocalNetworkRestored(const vqLOCALNETWORKNOTICE* record, int32_t cookie) = 0;
    virtual void OnLocalClosed(int32_t cookie) = 0;
    virtual void OnLocalConnectTimeout(int32_t cookie) = 0;
    // The engine found a partial download of this job and asks whether to
    // continue it; answer with SendResumeAnswer.
    virtual void OnLocalAskResume(int32_t jobNumber) = 0;
    virtual void OnLocalStatus(int32_t value, int32_t cookie) = 0;
    // The peer sent bytes that are no engine message; the close follows.
    virtual void OnLocalProtocolError(int32_t cookie) = 0;

protected:
    ~nwICDNLocalClientEventListener() = default;
};
