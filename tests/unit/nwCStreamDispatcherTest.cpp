#include "netlib/runtime/nwCStreamDispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes Frame(uint16_t type, uint16_t subtype, const std::string& payload)
{
    Bytes frame((payload.size() + 14 + 7) / 8 * 8, 0);
    frame[0] = type & 0xFF;
    frame[1] = type >> 8;
    frame[2] = subtype & 0xFF;
    frame[3] = subtype >> 8;
    uint32_t length = static_cast<uint32_t>(frame.size() - 14);
    for (int i = 0; i < 4; ++i) frame[10 + i] = static_cast<unsigned char>(length >> (8 * i));
    std::copy(payload.begin(), payload.end(), frame.begin() + 14);
    return frame;
}

struct Seen {
    std::vector<std::string> messages;
    nwCStreamDispatcher* stopOnFirst = nullptr;
};

void OnA(const unsigned char* payload, uint32_t length, void* user)
{
    auto* seen = static_cast<Seen*>(user);
    // Payloads are padded: keep the text up to its first zero byte.
    std::string text(reinterpret_cast<const char*>(payload), length);
    seen->messages.push_back("A:" + text.substr(0, text.find('\0')));
    if (seen->stopOnFirst) seen->stopOnFirst->Stop();
}

void OnB(const unsigned char* payload, uint32_t length, void* user)
{
    std::string text(reinterpret_cast<const char*>(payload), length);
    static_cast<Seen*>(user)->messages.push_back("B:" + text.substr(0, text.find('\0')));
}

} // namespace

TEST(nwCStreamDispatcher, IncompleteHeaderOrPayloadWaits)
{
    Seen seen;
    nwCStreamDispatcher dispatcher;
    dispatcher.RegisterHandler(768, 131, &OnA, &seen);
    Bytes frame = Frame(768, 131, "x");
    ASSERT_EQ(frame.size(), 16u); // header length 2
    EXPECT_EQ(dispatcher.Feed(frame.data(), 13), 0);
    EXPECT_EQ(dispatcher.Feed(frame.data(), 15), 0);
    EXPECT_TRUE(seen.messages.empty());
    EXPECT_EQ(dispatcher.Feed(frame.data(), 16), 16);
    EXPECT_EQ(seen.messages, (std::vector<std::string>{"A:x"}));
}

TEST(nwCStreamDispatcher, EveryFrameOfADeliveryIsDispatchedWhateverTheSplit)
{
    Bytes stream;
    for (const Bytes& frame : {Frame(256, 1, "first"), Frame(256, 2, "second message"), Frame(256, 1, "")})
        stream.insert(stream.end(), frame.begin(), frame.end());
    const std::vector<std::string> expected = {"A:first", "B:second message", "A:"};
    // Deliver in two chunks split at every offset, keeping what was not
    // consumed in front of the next chunk, as the connection does.
    for (size_t split = 0; split <= stream.size(); ++split) {
        Seen seen;
        nwCStreamDispatcher dispatcher;
        dispatcher.RegisterHandler(256, 1, &OnA, &seen);
        dispatcher.RegisterHandler(256, 2, &OnB, &seen);
        Bytes buffer(stream.begin(), stream.begin() + static_cast<long>(split));
        int32_t consumed = dispatcher.Feed(buffer.data(), static_cast<uint32_t>(buffer.size()));
        ASSERT_GE(consumed, 0);
        buffer.erase(buffer.begin(), buffer.begin() + consumed);
        buffer.insert(buffer.end(), stream.begin() + static_cast<long>(split), stream.end());
        EXPECT_EQ(dispatcher.Feed(buffer.data(), static_cast<uint32_t>(buffer.size())),
                  static_cast<int32_t>(buffer.size()))
            << split;
        EXPECT_EQ(seen.messages, expected) << split;
    }
}

TEST(nwCStreamDispatcher, FrameWithoutHandlerClosesTheConnection)
{
    Seen seen;
    nwCStreamDispatcher dispatcher;
    dispatcher.RegisterHandler(768, 131, &OnA, &seen);
    Bytes stream = Frame(768, 131, "ok");
    Bytes other = Frame(768, 132, "no");
    stream.insert(stream.end(), other.begin(), other.end());
    EXPECT_EQ(dispatcher.Feed(stream.data(), static_cast<uint32_t>(stream.size())), -1);
    EXPECT_EQ(seen.messages, (std::vector<std::string>{"A:ok"}));
}

TEST(nwCStreamDispatcher, ImpossibleLengthClosesInsteadOfWaiting)
{
    Seen seen;
    nwCStreamDispatcher dispatcher;
    dispatcher.RegisterHandler(768, 131, &OnA, &seen);
    Bytes header = Frame(768, 131, "");
    header[13] = 0x7F; // about 2 GiB
    EXPECT_EQ(dispatcher.Feed(header.data(), 14), -1);
}

TEST(nwCStreamDispatcher, StopEndsDispatchEvenInsideAFeed)
{
    Seen seen;
    nwCStreamDispatcher dispatcher;
    seen.stopOnFirst = &dispatcher;
    dispatcher.RegisterHandler(256, 1, &OnA, &seen);
    Bytes stream = Frame(256, 1, "one");
    Bytes second = Frame(256, 1, "two");
    stream.insert(stream.end(), second.begin(), second.end());
    EXPECT_EQ(dispatcher.Feed(stream.data(), static_cast<uint32_t>(stream.size())), 24);
    EXPECT_EQ(dispatcher.Feed(second.data(), static_cast<uint32_t>(second.size())), 0);
    EXPECT_EQ(seen.messages, (std::vector<std::string>{"A:one"}));
}

TEST(nwCStreamDispatcher, RawHandlerGetsTheWholeStream)
{
    struct Raw {
        std::string bytes;
        int32_t answer;
    } raw{"", 3};
    auto callback = [](const unsigned char* bytes, uint32_t length, void* user) -> int32_t {
        auto* r = static_cast<Raw*>(user);
        r->bytes.assign(reinterpret_cast<const char*>(bytes), length);
        return r->answer;
    };
    nwCStreamDispatcher dispatcher;
    dispatcher.AddRawHandler(callback, &raw);
    const std::string text = "HTTP/1.1 200 OK\r\n\r"; // 18 bytes
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    // The handler consumes 3 bytes per call: the feed offers the rest again.
    EXPECT_EQ(dispatcher.Feed(bytes, static_cast<uint32_t>(text.size())), 18);
    raw.answer = 6; // more than the 5 bytes offered
    EXPECT_EQ(dispatcher.Feed(bytes, 5), -1);
    raw.answer = 0;
    EXPECT_EQ(dispatcher.Feed(bytes, 5), 0);
    EXPECT_EQ(raw.bytes, "HTTP/");
    raw.answer = -1;
    EXPECT_EQ(dispatcher.Feed(bytes, 5), -1);
    int32_t consumed = 7;
    EXPECT_EQ(dispatcher.Dispatch(bytes, 5, &consumed), VQ_OK_NETWORK);
    EXPECT_EQ(consumed, -1);
}
