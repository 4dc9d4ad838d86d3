// The agent layer's side of the agent server's replies: any stream of bytes
// from the server, in pieces. Replies (768/131) reach the listener with their
// first payload byte; anything else closes the connection; nothing reaches
// the listener after its close. The same stream fed whole must give the same
// replies.
//
// Input: byte 0 seeds the piece lengths, the rest is the server's stream.

#include "FuzzCheck.h"
#include "FuzzChunks.h"
#include "FuzzContext.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/vqIAgentLayer.h"

#include <string>
#include <vector>

namespace {

class Listener : public nwIAgentListener {
public:
    void OnAgentConnected(int32_t) override { FUZZ_CHECK(!closed); }
    void OnAgentReply(int32_t cookie, uint8_t value) override
    {
        FUZZ_CHECK(!closed && cookie == 5);
        replies.push_back(value);
    }
    void OnAgentClosed(int32_t) override
    {
        FUZZ_CHECK(!closed);
        closed = true;
    }
    void OnAgentConnectTimeout(int32_t) override { FUZZ_CHECK(!closed); }
    void OnAgentRecvTimeout(int32_t) override { FUZZ_CHECK(!closed); }

    std::vector<uint8_t> replies;
    bool closed = false;
};

struct Session {
    vqSmartPtr layer;
    vqSmartPtr context;
    fuzz::FuzzContext* connection = nullptr;
    Listener listener;

    Session()
    {
        FUZZ_CHECK(layer.CreateInstance(CLSID_nwCAgentLayer));
        connection = new fuzz::FuzzContext();
        context.Assign(connection);
        void* stack = nullptr;
        FUZZ_CHECK(layer.QueryInterface(IID_nwIQoSNetStack, &stack));
        connection->Adopt(static_cast<nwIQoSNetStack*>(stack));
        layer.As<vqIAgentLayer>()->SetEventListener(&listener, 5);
        static_cast<nwIQoSNetStack*>(stack)->OnConnected();
        // One report out, as the reporter sends before it waits for replies.
        std::vector<unsigned char> entry(kAgentEntrySize, 'a');
        FUZZ_CHECK(layer.As<vqIAgentLayer>()->SendReport(vqAGENTREPORT{1, entry.data()}) == VQ_OK_NETWORK);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Chunked input = fuzz::CutIntoPieces(data, size);
    Session whole;
    whole.connection->Deliver(input.stream);
    Session pieces;
    for (const std::string& piece : input.pieces)
        if (!pieces.connection->Deliver(piece)) break;
    FUZZ_CHECK(!whole.connection->overrun && !pieces.connection->overrun);
    FUZZ_CHECK(whole.listener.replies == pieces.listener.replies);
    FUZZ_CHECK(whole.listener.closed == whole.connection->closed);
    FUZZ_CHECK(pieces.listener.closed == pieces.connection->closed);
    FUZZ_CHECK(whole.connection->closed == pieces.connection->closed);
    return 0;
}
