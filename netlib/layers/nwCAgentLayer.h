#pragma once
// The agent protocol on a connection (class id 0x2003): transfer reports as
// frames of type 768 / subtype 154, replies as 768 / 131. Any other frame
// from the server ends the connection.

#include "netlib/layers/vqIAgentLayer.h"
#include "netlib/runtime/nwCApplicationStack.h"

class nwCAgentLayer : public nwCApplicationStack, public vqIAgentLayer {
public:
    nwCAgentLayer();
    ~nwCAgentLayer() override = default;

    vqRESULT AddRef() override;
    vqRESULT Release() override;
    vqRESULT QueryInterface(uint32_t interfaceId, void** out) override;

    vqRESULT SetEventListener(nwIAgentListener* listener, int32_t cookie) override;
    vqRESULT SendReport(const vqAGENTREPORT& report) override;

    bool OnConnected() override;
    void OnClosed() override;
    bool OnConnectTimeout() override;
    bool OnIdleTimeout() override;

protected:
    virtual void Initialize();

private:
    static void OnReplyFrame(const unsigned char* payload, uint32_t length, void* self);

    int32_t m_refCount = 0;
    nwIAgentListener* m_listener = nullptr;
    int32_t m_cookie = 0;
};
