// The HTTP client layer fed a whole response in pieces, as a server's bytes
// arrive: a scripted connection context (tests/unit/ScriptedConnection.h)
// carries the real layer, and a listener that consumes part of what it is
// offered checks the layer's event contract on the way.
//
// Input: byte 0 seeds the piece lengths (fuzz/FuzzChunks.h), byte 1 how much
// the listener takes per offer, the rest is the response.

#include "FuzzCheck.h"
#include "FuzzChunks.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwIHttpClientExEventListener.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "platform/CodePage.h"
#include "unit/ScriptedConnection.h"

#include <cstdlib>
#include <string>

namespace {

class Listener : public nwIHttpClientExEventListener {
public:
    explicit Listener(uint8_t appetite) : m_appetite(appetite) {}

    void OnConnected(int32_t) override { FUZZ_CHECK(!closed); }
    void OnResponseHeader(int32_t) override
    {
        FUZZ_CHECK(!closed && !header);
        header = true;
        int64_t length = 0;
        hasLength = client->GetContentLength(&length) == VQ_OK_NETWORK && length > 0;
        contentLength = length;
        int32_t status = -1;
        FUZZ_CHECK(client->GetStatusCode(&status) == VQ_OK_NETWORK && status >= 0);
        // The raw block is there unless it starts with a NUL byte, which no
        // vqCString can start with.
        vqCString text;
        FUZZ_CHECK(client->GetResponseHeaderText(&text) == VQ_OK_NETWORK || leadingNul);
    }
    int32_t OnReceiveData(int32_t, const unsigned char* data, int32_t length) override
    {
        FUZZ_CHECK(!closed && header && !complete && length > 0 && data);
        // 0 takes everything; otherwise up to the appetite per offer, and
        // every eighth offer nothing (the bytes wait for the next arrival).
        ++offers;
        if (m_appetite != 0 && offers % 8 == 0) return 0;
        const int32_t taken = m_appetite == 0 || length < m_appetite ? length : m_appetite;
        received += taken;
        if (hasLength) FUZZ_CHECK(received <= contentLength);
        return taken;
    }
    void OnReceiveComplete(int32_t) override
    {
        FUZZ_CHECK(!closed && header && !complete);
        complete = true;
        if (hasLength) FUZZ_CHECK(received == contentLength);
    }
    void OnSendReady(int32_t) override {}
    void OnClosed(int32_t) override
    {
        FUZZ_CHECK(!closed);
        closed = true;
    }
    void OnConnectTimeout(int32_t) override { FUZZ_CHECK(!closed); }
    void OnRecvTimeout(int32_t) override { FUZZ_CHECK(!closed); }
    void OnHostUnreach(int32_t) override { FUZZ_CHECK(!closed); }

    vqIHttpClientExLayer* client = nullptr;
    bool leadingNul = false;
    bool header = false;
    bool complete = false;
    bool closed = false;
    bool hasLength = false;
    int64_t contentLength = 0;
    int64_t received = 0;
    int offers = 0;

private:
    uint8_t m_appetite;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SetSystemCodeSetForTesting("UTF-8");
    ScriptedConnection::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const fuzz::Chunked input = fuzz::CutIntoPieces(data + 1, size - 1);
    ScriptedConnection::Made().clear();
    Listener listener(data[0]);
    listener.leadingNul = !input.stream.empty() && input.stream[0] == '\0';
    {
        vqSmartPtr context;
        FUZZ_CHECK(context.CreateInstance(CLSID_cpCQoSContext));
        ScriptedConnection& connection = ScriptedConnection::At(0);
        FUZZ_CHECK(connection.AddLayer(CLSID_nwCHttpClientExLayer, false) == VQ_OK_PLATFORM);
        auto* client = static_cast<vqIHttpClientExLayer*>(connection.GetTopLayer());
        listener.client = client;
        client->SetEventListener(&listener, 1);
        FUZZ_CHECK(client->Connect("http://files.test/a.bin") == VQ_OK_NETWORK);
        FUZZ_CHECK(client->SendGetRequest() == VQ_OK_NETWORK);
        connection.PeerAccept();
        for (const std::string& piece : input.pieces) connection.Answer(piece);
        connection.PeerClose();
        FUZZ_CHECK(listener.closed);
        // After the close the getters still answer without touching freed state.
        int32_t status = 0;
        client->GetStatusCode(&status);
        vqCString value;
        client->GetResponseHeader("Content-Length", &value);
    }
    ScriptedConnection::Made().clear();
    return 0;
}
