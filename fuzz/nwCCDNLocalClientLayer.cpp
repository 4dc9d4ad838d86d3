// The engine client layer's message parsing: any stream from the engine, in
// pieces, through the real layer on a scripted connection context
// (tests/unit/ScriptedConnection.h). Every record the listener receives is
// read in full (texts to their NUL: ASan sees any read past the payload);
// the stream fed whole and fed in pieces must give the same calls; nothing
// follows OnLocalClosed.
//
// Input: byte 0 seeds the piece lengths, the rest is the engine's stream.

#include "FuzzCheck.h"
#include "FuzzChunks.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwICDNLocalClientEventListener.h"
#include "netlib/layers/vqICDNLocalClientLayer.h"
#include "unit/ScriptedConnection.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Field(const char* text, size_t capacity)
{
    // A decoded char[n] field holds its NUL.
    FUZZ_CHECK(memchr(text, 0, capacity) != nullptr);
    return text;
}

std::string Text(const char* text)
{
    return text ? std::string(text) : std::string("(null)");
}

class Listener : public nwICDNLocalClientEventListener {
public:
    void OnLocalConnected(int32_t) override { Add("connected"); }
    void OnLocalJobAccepted(const vqLOCALJOBACCEPTED* r, int32_t) override
    {
        Add("accepted " + std::to_string(r->jobNumber) + " " + std::to_string(r->taskNumber) + " " +
            std::to_string(r->fileCount) + " " + std::to_string(r->totalBytes));
    }
    void OnLocalJobRejected(const vqLOCALJOBREJECTED* r, int32_t) override
    {
        Add("rejected " + std::to_string(r->jobNumber) + " " + Text(r->reason));
    }
    void OnLocalJobProgress(const vqLOCALPROGRESS* r, int32_t) override
    {
        FUZZ_CHECK(r->recordCount >= 0);
        FUZZ_CHECK((r->recordCount == 0) == (r->records == nullptr));
        std::string line = "progress " + std::to_string(r->jobNumber) + " " + std::to_string(r->bytesPresent) + "/" +
                           std::to_string(r->totalBytes);
        for (int32_t i = 0; i < r->recordCount; ++i) {
            const vqLOCALFILERECORD& file = r->records[i];
            line += " [" + Field(file.id, kLocalIdField) + " " + std::to_string(file.bytesPresent) + "/" +
                    std::to_string(file.fileSize) + " " + Text(file.text) + "]";
        }
        Add(line);
    }
    void OnLocalFileDone(const vqLOCALFILEDONE* r, int32_t) override
    {
        Add("done " + Field(r->id, kLocalIdField) + " " + Field(r->localPath, kLocalPathField) + " " + Text(r->source));
    }
    void OnLocalFileDoneEx(const vqLOCALFILEDONEEX* r, int32_t) override
    {
        Add("doneex " + Field(r->id, kLocalIdField) + " " + Field(r->localPath, kLocalPathField) + " " +
            Field(r->secondText, kLocalPathField) + " " + Text(r->source));
    }
    void OnLocalJobFinished(const vqLOCALJOBFINISHED* r, int32_t) override
    {
        Add("finished " + std::to_string(r->jobNumber) + " " + std::to_string(r->valueB));
    }
    void OnLocalJobError(const vqLOCALJOBERROR* r, int32_t) override
    {
        Add("error " + std::to_string(r->kind) + " " + Text(r->text));
    }
    void OnLocalNetworkLost(const vqLOCALNETWORKNOTICE*, int32_t) override { Add("lost"); }
    void OnLocalNetworkRestored(const vqLOCALNETWORKNOTICE*, int32_t) override { Add("restored"); }
    void OnLocalClosed(int32_t) override
    {
        Add("closed");
        closed = true;
    }
    void OnLocalConnectTimeout(int32_t) override { Add("connecttimeout"); }
    void OnLocalProtocolError(int32_t) override { Add("protocolerror"); }
    void OnLocalAskResume(int32_t jobNumber) override { Add("askresume " + std::to_string(jobNumber)); }
    void OnLocalStatus(int32_t value, int32_t) override { Add("status " + std::to_string(value)); }

    std::vector<std::string> calls;
    bool closed = false;

private:
    void Add(const std::string& call)
    {
        FUZZ_CHECK(!closed);
        calls.push_back(call);
    }
};

std::vector<std::string> Run(const std::vector<std::string>& pieces)
{
    ScriptedConnection::Made().clear();
    Listener listener;
    {
        vqSmartPtr context;
        FUZZ_CHECK(context.CreateInstance(CLSID_cpCQoSContext));
        ScriptedConnection& connection = ScriptedConnection::At(0);
        FUZZ_CHECK(connection.AddLayer(CLSID_nwCCDNLocalClientLayer, false) == VQ_OK_PLATFORM);
        auto* client = static_cast<vqICDNLocalClientLayer*>(connection.GetTopLayer());
        client->SetEventListener(&listener, 3);
        connection.PeerAccept();
        FUZZ_CHECK(client->SendJobOptions(kLocalOptionsPlain) == VQ_OK_NETWORK);
        for (const std::string& piece : pieces) connection.Answer(piece);
        connection.PeerClose();
        FUZZ_CHECK(listener.closed);
    }
    ScriptedConnection::Made().clear();
    return listener.calls;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ScriptedConnection::Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Chunked input = fuzz::CutIntoPieces(data, size);
    FUZZ_CHECK(Run({input.stream}) == Run(input.pieces));
    return 0;
}
