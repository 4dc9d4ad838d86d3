#pragma once
// The download engine's message protocol on a connection (class id 0x2015).
// Sends one frame per operation of vqICDNLocalClientLayer and hands every
// engine message, parsed by nwCDNLocalCodec, to the listener. A message with
// no handler, or a malformed one, is reported to the listener as a protocol
// error and ends the connection.

#include "netlib/layers/vqICDNLocalClientLayer.h"
#include "netlib/runtime/nwCApplicationStack.h"

class nwCCDNLocalClientLayer : public nwCApplicationStack, public vqICDNLocalClientLayer {
public:
    nwCCDNLocalClientLayer();
    ~nwCCDNLocalClientLayer() override;

    vqRESULT AddRef() override;
    vqRESULT Release() override;
    vqRESULT QueryInterface(uint32_t interfaceId, void** out) override;

    vqRESULT SetEventListener(nwICDNLocalClientEventListener* listener, int32_t cookie) override;
    vqRESULT SendJobOptions(uint8_t mode) override;
    vqRESULT SendJobTag(const char tag[kLocalTagField]) override;
    vqRESULT SendJob(const vqLOCALJOBHEADER& header, const vqLOCALJOBFILE* files) override;
    vqRESULT SendJobHeader(const vqLOCALJOBHEADER& header) override;
    vqRESULT SendJobFile(int32_t jobNumber, int32_t fileIndex, const vqLOCALJOBFILE& file) override;
    vqRESULT SendJobEnd(int32_t jobNumber) override;
    vqRESULT SendStopJob(int32_t jobNumber, int32_t taskNumber) override;
    vqRESULT SendServiceId(const char* serviceId) override;
    vqRESULT SendMessage13(const unsigned char bytes[kLocalMessage13Size]) override;
    vqRESULT SendJobEngineFlag(int32_t jobNumber) override;
    vqRESULT SendResumeAnswer(int32_t taskNumber, int32_t jobNumber, uint8_t resume, uint8_t applyToAll) override;
    vqRESULT SendMessage22() override;

    bool OnConnected() override;
    void OnClosed() override;
    bool OnConnectTimeout() override;
    bool OnIdleTimeout() override { return true; }
    // A malformed message, or one without handler, stops the dispatcher,
    // tells the listener and answers -1 here, so the context closes the
    // connection.
    int32_t OnReceive(const unsigned char* bytes, uint32_t length) override;

protected:
    virtual void Initialize();

private:
    typedef void (nwCCDNLocalClientLayer::*Handler)(const unsigned char* payload, uint32_t length);
    template <Handler handler>
    static void Thunk(const unsigned char* payload, uint32_t length, void* self);

    vqRESULT Send(uint16_t code, const nwCDNLocalCodec::Bytes& payload, uint16_t type = kLocalFrameType);
    void Malformed();

    void OnJobAccepted(const unsigned char* payload, uint32_t length);
    void OnJobRejected(const unsigned char* payload, uint32_t length);
    void OnJobProgress(const unsigned char* payload, uint32_t length);
    void OnJobFinished(const unsigned char* payload, uint32_t length);
    void OnFileDone(const unsigned char* payload, uint32_t length);
    void OnJobError(const unsigned char* payload, uint32_t length);
    void OnNetworkLost(const unsigned char* payload, uint32_t length);
    void OnNetworkRestored(const unsigned char* payload, uint32_t length);
    void OnFileDoneEx(const unsigned char* payload, uint32_t length);
    void OnAskResume(const unsigned char* payload, uint32_t length);
    void OnStatus(const unsigned char* payload, uint32_t length);

    int32_t m_refCount = 0;
    nwICDNLocalClientEventListener* m_listener = nullptr;
    int32_t m_cookie = 0;
    bool m_malformed = false;
};
