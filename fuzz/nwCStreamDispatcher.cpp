// The stream dispatcher's frame cutting: the same stream fed whole and fed in
// the pieces a connection delivers (unconsumed bytes offered again in front
// of newer ones) must yield the same frames, never consume more than it was
// offered, and deliver nothing once stopped.
//
// Input: byte 0 seeds the piece lengths, the rest is the stream. Handlers
// cover the engine protocol (type 256, codes 0..22; 258/14) and the agent
// reply (768/131); the frame 256/3 stops the dispatcher from inside its
// handler, as a layer closing does.

#include "FuzzCheck.h"
#include "FuzzChunks.h"
#include "netlib/runtime/nwCStreamDispatcher.h"

#include <string>
#include <vector>

namespace {

struct Frame {
    uint16_t type;
    uint16_t subtype;
    std::string payload;
    bool operator==(const Frame& other) const
    {
        return type == other.type && subtype == other.subtype && payload == other.payload;
    }
};

struct Route {
    struct Run* run;
    uint16_t type;
    uint16_t subtype;
};

struct Run {
    nwCStreamDispatcher dispatcher;
    std::vector<Route> routes;
    std::vector<Frame> frames;
    bool failed = false;

    Run()
    {
        routes.reserve(32);
        for (uint16_t code = 0; code <= 22; ++code) routes.push_back({this, 256, code});
        routes.push_back({this, 258, 14});
        routes.push_back({this, 768, 131});
        for (Route& route : routes) dispatcher.RegisterHandler(route.type, route.subtype, &OnFrame, &route);
    }

    static void OnFrame(const unsigned char* payload, uint32_t length, void* user)
    {
        auto* route = static_cast<Route*>(user);
        FUZZ_CHECK(!route->run->dispatcher.Stopped());
        FUZZ_CHECK(length <= nwCStreamDispatcher::kMaxPayload);
        route->run->frames.push_back({route->type, route->subtype, std::string(reinterpret_cast<const char*>(payload), length)});
        if (route->type == 256 && route->subtype == 3) route->run->dispatcher.Stop();
    }

    // As a connection context delivers: what is left stays in front.
    void Deliver(std::string& inbox, const std::string& bytes)
    {
        if (failed || dispatcher.Stopped()) return;
        inbox += bytes;
        const int32_t consumed =
            dispatcher.Feed(reinterpret_cast<const unsigned char*>(inbox.data()), static_cast<uint32_t>(inbox.size()));
        if (consumed < 0) {
            failed = true;
            return;
        }
        FUZZ_CHECK(static_cast<size_t>(consumed) <= inbox.size());
        inbox.erase(0, static_cast<size_t>(consumed));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::Chunked input = fuzz::CutIntoPieces(data, size);
    Run whole;
    std::string wholeInbox;
    whole.Deliver(wholeInbox, input.stream);

    Run pieces;
    std::string piecesInbox;
    for (const std::string& piece : input.pieces) pieces.Deliver(piecesInbox, piece);

    FUZZ_CHECK(whole.frames == pieces.frames);
    FUZZ_CHECK(whole.failed == pieces.failed);
    if (!whole.failed && !whole.dispatcher.Stopped()) FUZZ_CHECK(wholeInbox == piecesInbox);
    return 0;
}
