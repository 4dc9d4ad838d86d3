#pragma once
// The TLS client layer (class id 0x2017): sits at the bottom of a connection
// context, below the HTTP client layer, and runs one TLS client connection
// (COpenSSL) over the context's socket.
//
// Contract towards the context and the layer above (see nwIQoSNetStack.h):
// - OnConnected starts the handshake (the ClientHello goes down before it
//   returns) and answers true, so the layer above learns of the connection
//   at once; if the handshake cannot start, the layer closes the context and
//   answers false.
// - Plaintext handed down before the handshake is done is queued, in order,
//   and written as soon as the handshake completes; afterwards it is
//   encrypted at once. The layers above see "send queue drained" only once
//   nothing of theirs is held here.
// - Decrypted bytes go up with the usual consumed-count contract; what the
//   layer above leaves is kept and offered again, in front of the next
//   decrypted bytes.
// - A handshake or record failure (a certificate that does not verify
//   included) closes the context, so the layers above see OnClosed, and
//   writes one line to the activity log naming the host and the reason. The
//   peer's close_notify closes the context too, as a peer's TCP close would,
//   without a log line.
// - A close that arrives while a call into OpenSSL is running (from inside
//   one of its callbacks) frees the TLS connection only after the outermost
//   such call has returned.

#include "netlib/Lib_SSL/COpenSSL.h"
#include "netlib/Lib_SSL/vqISecureSocketClientLayer.h"
#include "netlib/runtime/nwCApplicationStack.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class nwCSecureSocketClientLayer : public nwCApplicationStack, public vqISecureSocketClientLayer {
public:
    nwCSecureSocketClientLayer();
    ~nwCSecureSocketClientLayer() override;
    vqRESULT GetFailureText(vqCString* text) override;
    nwCSecureSocketClientLayer(const nwCSecureSocketClientLayer&) = delete;
    nwCSecureSocketClientLayer& operator=(const nwCSecureSocketClientLayer&) = delete;

    vqRESULT AddRef() override;
    vqRESULT Release() override;
    // Answers IID_nwIQoSNetStack with the stack face; VQ_E_NETWORK otherwise.
    vqRESULT QueryInterface(uint32_t interfaceId, void** out) override;

    vqRESULT SendDown(const vqBUFFER& buffer) override;
    bool OnConnected() override;
    bool OnUnreachable() override { return true; }
    void OnClosed() override;
    bool OnConnectTimeout() override { return true; }
    bool OnIdleTimeout() override { return true; }
    bool OnSendDrained() override;

private:
    class TlsCall;

    void Initialize();
    void FreeTls();
    void CloseWithLogLine();
    static int32_t ReceiveThunk(const unsigned char* bytes, uint32_t length, void* userData);
    int32_t Receive(const unsigned char* bytes, uint32_t length);
    static void SendCiphertextThunk(const unsigned char* data, uint32_t length, void* user);
    static void HandshakeCompleteThunk(void* user);
    static void PlaintextReceivedThunk(const unsigned char* data, uint32_t length, void* user);
    void HandshakeComplete();
    void PlaintextReceived(const unsigned char* data, uint32_t length);
    void WriteThroughTls(const std::vector<unsigned char>& block);

    int32_t m_refCount = 0;
    COpenSSL* m_tls = nullptr;
    // What CloseWithLogLine logged, without its prefix.
    std::string m_failure;
    bool m_handshakeComplete = false;
    std::deque<std::vector<unsigned char>> m_outbound;
    std::vector<unsigned char> m_remainder;
    int32_t m_inTlsCall = 0;
    bool m_closeRequested = false;
};
