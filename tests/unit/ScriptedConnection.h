#pragma once
// A connection context that plays an HTTP server for the sessions of the
// plain downloader (or the engine for the engine downloader): registered
// under the context's class id, every context a session makes is one of
// these, carrying the real HTTP client layer (or the real engine client
// layer). The
// test reads the request each one sent and scripts the answer: bytes, a peer
// close, a refused connect or an idle timeout, as the real context reports
// them to its layers.

#include "netlib/core/vqCRefCounted.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/cpADDRESS.h"
#include "netlib/runtime/cpResolver.h"
#include "netlib/runtime/nwIQoSNetStack.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

class ScriptedConnection : public vqCRefCounted<vqIQoSContext> {
public:
    // Every context made since the last Install, in order (the list holds a
    // reference on each).
    static std::vector<vqSmartPtr>& Made()
    {
        static std::vector<vqSmartPtr> made;
        return made;
    }
    static ScriptedConnection& At(size_t index) { return *Made().at(index).As<ScriptedConnection>(); }
    static size_t Count() { return Made().size(); }

    // files.test, mirror.test and 127.0.0.1 resolve; nothing else does.
    static void Install()
    {
        Made().clear();
        vqRegisterClassForTesting(CLSID_cpCQoSContext, &Make);
        cpSetResolverForTesting(&Resolve);
    }
    static void Uninstall()
    {
        vqRegisterClassForTesting(0, nullptr);
        cpSetResolverForTesting(nullptr);
        Made().clear();
    }

    // What the session asked of the context.
    int openAction = -1;
    uint32_t eventMask = 0;
    int action = -1;
    int32_t receiveLimit = -1;
    int32_t connectTimeout = -1;
    int32_t idleLimit = -1;
    bool connected = false;
    cpADDRESS connectedTo{0, 0};
    // This end's address once connected.
    cpADDRESS localAddress{0x0100007F, 50123};
    bool closed = false;
    std::string host;
    std::string wire;

    // The request's target ("/a.bin") and the value of one of its header
    // lines ("(none)" when absent).
    std::string Target() const
    {
        const size_t space = wire.find(' ');
        if (space == std::string::npos) return "(none)";
        return wire.substr(space + 1, wire.find(' ', space + 1) - space - 1);
    }
    std::string RequestHeader(const char* name) const
    {
        const std::string key = std::string("\r\n") + name + ": ";
        const size_t at = wire.find(key);
        if (at == std::string::npos) return "(none)";
        const size_t begin = at + key.size();
        return wire.substr(begin, wire.find("\r\n", begin) - begin);
    }

    // The peer's side.
    void Answer(const std::string& bytes)
    {
        if (closed) return;
        m_inbox += bytes;
        const int32_t consumed =
            m_stack->OnReceive(reinterpret_cast<const unsigned char*>(m_inbox.data()), static_cast<uint32_t>(m_inbox.size()));
        if (consumed < 0) {
            Close();
            return;
        }
        m_inbox.erase(0, static_cast<size_t>(consumed));
    }
    void PeerClose() { Close(); }
    // The connect succeeded.
    void PeerAccept()
    {
        if (!closed) m_stack->OnConnected();
    }
    void RefuseConnect()
    {
        if (closed) return;
        connectFailure = QOS_CONNECT_REFUSED;
        m_stack->OnEvent(QOS_EVENT_CONNECT_TIMEOUT, 0);
        Close();
    }
    // The connect found the host unreachable; the context's connect-failure
    // path follows.
    void Unreachable()
    {
        if (closed) return;
        connectFailure = QOS_CONNECT_UNREACHABLE;
        m_stack->OnUnreachable();
        m_stack->OnEvent(QOS_EVENT_CONNECT_TIMEOUT, 0);
        Close();
    }
    int32_t connectFailure = QOS_CONNECT_NOT_FAILED;
    void IdleTimeout()
    {
        if (!closed) m_stack->OnEvent(QOS_EVENT_IDLE, 0);
    }

    vqRESULT Open(int actionType, uint32_t mask, cpSocketRecord*) override
    {
        openAction = actionType;
        action = actionType;
        eventMask = mask;
        return VQ_OK_PLATFORM;
    }
    vqRESULT SetActionLimit(int direction, const int32_t* value) override
    {
        if (direction == 0) receiveLimit = *value;
        return VQ_OK_PLATFORM;
    }
    vqRESULT SetAction(int type) override
    {
        action = type;
        return VQ_OK_PLATFORM;
    }
    vqRESULT SetEventMask(uint32_t mask) override
    {
        eventMask = mask;
        return VQ_OK_PLATFORM;
    }
    vqRESULT AddEventMask(uint32_t) override { return VQ_OK_PLATFORM; }
    vqRESULT RemoveEventMask(uint32_t) override { return VQ_OK_PLATFORM; }
    vqRESULT SetParam(int type, const int32_t* value) override
    {
        if (type == QOS_PARAM_CONNECT_TIMEOUT) connectTimeout = *value;
        if (type == QOS_PARAM_IDLE_LIMIT) idleLimit = *value;
        return VQ_OK_PLATFORM;
    }
    vqRESULT GetState(int32_t* state) override
    {
        *state = closed ? QOS_CLOSED : QOS_CONNECTING;
        return VQ_OK_PLATFORM;
    }
    vqRESULT Connect(const cpADDRESS& address) override
    {
        connectedTo = address;
        connected = true;
        return VQ_OK_PLATFORM;
    }
    vqRESULT SendFromLayer(nwIQoSNetStack*, const vqBUFFER& buffer) override
    {
        wire.append(static_cast<const char*>(buffer.data), buffer.length);
        return VQ_OK_PLATFORM;
    }
    vqRESULT AddLayer(uint32_t classId, bool) override
    {
        const bool known = classId == CLSID_nwCHttpClientExLayer || classId == CLSID_nwCCDNLocalClientLayer;
        if (!known || m_layer.Get() || !m_layer.CreateInstance(classId))
            return VQ_E_PLATFORM;
        void* face = nullptr;
        m_layer.QueryInterface(IID_nwIQoSNetStack, &face);
        m_stack = static_cast<nwIQoSNetStack*>(face);
        m_stack->SetContext(this);
        return VQ_OK_PLATFORM;
    }
    vqRESULT FindLayer(uint32_t, vqIUnknown**) override { return VQ_E_PLATFORM; }
    vqRESULT Rearm() override { return VQ_E_PLATFORM; }
    vqRESULT RegisterFrameHandler(uint16_t, uint32_t, nwFrameCallback, void*) override { return VQ_E_PLATFORM; }
    vqRESULT SetAddress(const cpADDRESS&) override { return VQ_OK_PLATFORM; }
    vqRESULT GetAddress(const cpADDRESS**) override { return VQ_E_PLATFORM; }
    vqRESULT Close() override
    {
        if (closed) return VQ_OK_PLATFORM;
        closed = true;
        if (m_stack) m_stack->OnClose();
        return VQ_OK_PLATFORM;
    }
    vqRESULT PostClose() override { return Close(); }
    vqIUnknown* GetTopLayer() override { return m_layer.Get(); }
    vqRESULT NotifyUpperConnected(nwIQoSNetStack*) override { return VQ_E_PLATFORM; }
    int32_t DeliverUp(nwIQoSNetStack*, const unsigned char*, uint32_t) override { return 0; }
    vqRESULT GetSendBuffer(const unsigned char**, uint32_t*) override { return VQ_E_PLATFORM; }
    vqRESULT Send(const vqBUFFER&) override { return VQ_OK_PLATFORM; }
    vqRESULT GetReceiveRate(uint32_t*) override { return VQ_E_PLATFORM; }
    vqRESULT GetSendRate(uint32_t*) override { return VQ_E_PLATFORM; }
    vqRESULT GetPendingSendBytes(uint32_t*) override { return VQ_E_PLATFORM; }
    vqRESULT GetHostName(const char**) override { return VQ_E_PLATFORM; }
    vqRESULT SetHostName(const char* name) override
    {
        host = name ? name : "";
        return VQ_OK_PLATFORM;
    }
    vqRESULT MarkAddressGood() override { return VQ_OK_PLATFORM; }
    vqRESULT MarkAddressFailed() override { return VQ_OK_PLATFORM; }
    vqRESULT GetConnectFailure(int32_t* failure) override
    {
        *failure = connectFailure;
        return VQ_OK_PLATFORM;
    }
    vqRESULT GetLocalAddress(cpADDRESS* address) override
    {
        if (!connected || closed) return VQ_E_PLATFORM;
        *address = localAddress;
        return VQ_OK_PLATFORM;
    }

private:
    static vqIUnknown* Make()
    {
        auto* connection = new ScriptedConnection();
        Made().emplace_back(static_cast<vqIQoSContext*>(connection));
        return static_cast<vqIQoSContext*>(connection);
    }
    static bool Resolve(const char* name, std::vector<uint32_t>* addresses)
    {
        if (strcasecmp(name, "files.test") == 0) *addresses = {0x0A00000A};
        else if (strcasecmp(name, "mirror.test") == 0) *addresses = {0x0B00000A};
        else if (strcmp(name, "127.0.0.1") == 0) *addresses = {0x0100007F};
        else return false;
        return true;
    }

    vqSmartPtr m_layer;
    nwIQoSNetStack* m_stack = nullptr;
    std::string m_inbox;
};

// A response header block with the given status line and fields.
inline std::string HttpAnswer(const char* status, const std::vector<std::string>& fields, const std::string& body = "")
{
    std::string text = std::string("HTTP/1.1 ") + status + "\r\n";
    for (const std::string& field : fields) text += field + "\r\n";
    return text + "\r\n" + body;
}
