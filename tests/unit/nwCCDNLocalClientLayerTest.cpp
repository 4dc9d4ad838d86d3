// The engine protocol's client side: frames pinned byte for byte (built here
// by hand, not by the codec, so both ends cannot drift together), every
// engine message parsed from a stream split at every offset, malformed and
// unknown messages closing the connection.

#include "MockQoSContext.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwCCDNLocalClientLayer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using testing::_;
using testing::Invoke;

namespace {

typedef std::vector<unsigned char> Bytes;

// Little-endian byte building, independent of the codec under test.
struct Build {
    Bytes b;
    Build& u8(unsigned v)
    {
        b.push_back(static_cast<unsigned char>(v));
        return *this;
    }
    Build& le(uint64_t v, int n)
    {
        for (int i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
        return *this;
    }
    Build& i32(int32_t v) { return le(static_cast<uint32_t>(v), 4); }
    Build& i64(int64_t v) { return le(static_cast<uint64_t>(v), 8); }
    Build& text(const std::string& s)
    {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
        return *this;
    }
    Build& field(const std::string& s, size_t n)
    {
        Bytes f(n, 0);
        memcpy(f.data(), s.data(), std::min(s.size(), n));
        b.insert(b.end(), f.begin(), f.end());
        return *this;
    }
    Build& zeros(size_t n)
    {
        b.insert(b.end(), n, 0);
        return *this;
    }
};

// A frame as the engine sends it: padded to a multiple of 8.
Bytes EngineFrame(unsigned subtype, const Bytes& payload, unsigned type = 256)
{
    const size_t total = (payload.size() + 14 + 7) / 8 * 8;
    Build f;
    f.le(type, 2).le(subtype, 2).zeros(6).le(total - 14, 4);
    f.b.insert(f.b.end(), payload.begin(), payload.end());
    f.zeros(total - f.b.size());
    return f.b;
}

class RecordingListener : public nwICDNLocalClientEventListener {
public:
    std::vector<std::string> calls;
    std::function<void()> onCall;
    void Add(const std::string& s)
    {
        calls.push_back(s);
        if (onCall) onCall();
    }
    static std::string N(int64_t v) { return std::to_string(v); }
    void OnLocalConnected(int32_t c) override { Add("connected " + N(c)); }
    void OnLocalJobAccepted(const vqLOCALJOBACCEPTED* r, int32_t c) override
    {
        Add("accepted " + N(r->jobNumber) + " " + N(r->taskNumber) + " " + N(r->fileCount) + " " + N(r->totalBytes) +
            " c" + N(c));
    }
    void OnLocalJobRejected(const vqLOCALJOBREJECTED* r, int32_t c) override
    {
        Add("rejected " + N(r->jobNumber) + " " + r->reason + " t" + N(r->trailer[15]) + " c" + N(c));
    }
    void OnLocalJobProgress(const vqLOCALPROGRESS* r, int32_t c) override
    {
        std::string s = "progress " + N(r->jobNumber) + " " + N(r->taskNumber) + " " + N(r->fileCount) + " " +
                        N(r->filesCompleted) + " " + N(r->totalBytes) + " " + N(r->bytesPresent) + " " + N(r->rate) +
                        " " + N(r->elapsedSeconds) + " n" + N(r->recordCount) + (r->records ? "" : " null");
        for (int32_t i = 0; r->records && i < r->recordCount; ++i)
            s += std::string(" [") + r->records[i].id + " " + N(r->records[i].fileSize) + " " +
                 N(r->records[i].bytesPresent) + " " + N(r->records[i].rate) + " " + r->records[i].text + "]";
        Add(s + " c" + N(c));
    }
    void OnLocalFileDone(const vqLOCALFILEDONE* r, int32_t c) override
    {
        Add("done " + N(r->jobNumber) + " " + N(r->taskNumber) + " " + r->localPath + " " + r->source + " c" + N(c));
    }
    void OnLocalFileDoneEx(const vqLOCALFILEDONEEX* r, int32_t c) override
    {
        Add("doneEx " + N(r->jobNumber) + " " + N(r->taskNumber) + " " + r->localPath + " " + r->secondText + " " +
            r->source + " c" + N(c));
    }
    void OnLocalJobFinished(const vqLOCALJOBFINISHED* r, int32_t c) override
    {
        Add("finished " + N(r->jobNumber) + " " + N(r->taskNumber) + " " + N(r->valueA) + " " + N(r->valueB) + " c" +
            N(c));
    }
    void OnLocalJobError(const vqLOCALJOBERROR* r, int32_t c) override
    {
        Add("error " + N(r->jobNumber) + " " + N(r->taskNumber) + " " + N(r->kind) + " " + r->text + " c" + N(c));
    }
    void OnLocalNetworkLost(const vqLOCALNETWORKNOTICE* r, int32_t c) override
    {
        Add("lost " + N(r->bytes[0]) + " c" + N(c));
    }
    void OnLocalNetworkRestored(const vqLOCALNETWORKNOTICE* r, int32_t c) override
    {
        Add("restored " + N(r->bytes[15]) + " c" + N(c));
    }
    void OnLocalClosed(int32_t c) override { Add("closed " + N(c)); }
    void OnLocalConnectTimeout(int32_t c) override { Add("timeout " + N(c)); }
    void OnLocalProtocolError(int32_t c) override { Add("protocol error " + N(c)); }
    void OnLocalAskResume(int32_t job) override { Add("ask " + N(job)); }
    void OnLocalStatus(int32_t v, int32_t c) override { Add("status " + N(v) + " c" + N(c)); }
};

class LocalClientLayerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(object.CreateInstance(CLSID_nwCCDNLocalClientLayer));
        layer = object.As<vqICDNLocalClientLayer>();
        void* view = nullptr;
        ASSERT_TRUE(object.QueryInterface(IID_nwIQoSNetStack, &view));
        stack = static_cast<nwCApplicationStack*>(static_cast<nwIQoSNetStack*>(view));
        stack->SetContext(&context);
        layer->SetEventListener(&listener, 3);
        ON_CALL(context, SendFromLayer(_, _)).WillByDefault(Invoke([this](nwIQoSNetStack*, const vqBUFFER& buffer) {
            const auto* bytes = static_cast<const unsigned char*>(buffer.data);
            sent.emplace_back(bytes, bytes + buffer.length);
            return VQ_OK_PLATFORM;
        }));
    }
    // Delivers as the context does: unconsumed bytes are offered again with
    // the newer ones. Answers false once the layer asked for the close.
    bool Deliver(const Bytes& chunk)
    {
        pending.insert(pending.end(), chunk.begin(), chunk.end());
        const int32_t consumed = stack->OnReceive(pending.data(), static_cast<uint32_t>(pending.size()));
        if (consumed < 0) return false;
        pending.erase(pending.begin(), pending.begin() + consumed);
        return true;
    }
    Bytes Sent() const { return sent.size() == 1 ? sent[0] : Bytes{}; }

    testing::NiceMock<MockQoSContext> context;
    vqSmartPtr object;
    vqICDNLocalClientLayer* layer = nullptr;
    nwCApplicationStack* stack = nullptr;
    RecordingListener listener;
    std::vector<Bytes> sent;
    Bytes pending;
};

vqLOCALJOBFILE File(uint8_t a, uint8_t b, int64_t size, const char* folder, const char* name, const char* url)
{
    vqLOCALJOBFILE file{};
    file.flagA = a;
    file.flagB = b;
    file.size = size;
    strncpy(file.folder, folder, sizeof file.folder - 1);
    strncpy(file.fileName, name, sizeof file.fileName - 1);
    file.url = url;
    return file;
}

} // namespace

TEST_F(LocalClientLayerTest, Message22IsASixteenByteFrame)
{
    EXPECT_EQ(layer->SendMessage22(), VQ_OK_NETWORK);
    EXPECT_EQ(Sent(), (Bytes{0x00, 0x01, 22, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0}));
}

TEST_F(LocalClientLayerTest, JobEndIsATwentyFourByteFrame)
{
    layer->SendJobEnd(0x0A0B0C0D);
    EXPECT_EQ(Sent(), (Bytes{0x00, 0x01, 21, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 0, 0, 0, 0, 0, 0}));
}

TEST_F(LocalClientLayerTest, SingleMessageJobOfOneFileIsSixHundredBytes)
{
    vqLOCALJOBHEADER header{7, 1, {}};
    strcpy(header.serviceId, "svc");
    vqLOCALJOBFILE file = File(1, 2, 0x0102030405LL, "/home/u/dl/", "a.bin", "http://x/a");
    ASSERT_EQ(layer->SendJob(header, &file), VQ_OK_NETWORK);
    const Bytes frame = Sent();
    ASSERT_EQ(frame.size(), 600u);
    // type 258, subtype 14, header length 586 (582 payload + 4 padding)
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 14), (Bytes{0x02, 0x01, 14, 0, 0, 0, 0, 0, 0, 0, 0x4A, 0x02, 0, 0}));
    Build expected;
    expected.i32(7).i32(1).field("svc", 33).u8(1).u8(2).i64(0x0102030405LL).field("/home/u/dl/", 260).field("a.bin", 260)
        .text("http://x/a").zeros(4);
    EXPECT_EQ(Bytes(frame.begin() + 14, frame.end()), expected.b);
}

TEST_F(LocalClientLayerTest, EverySendOperationPutsItsLayoutOnTheWire)
{
    vqLOCALJOBHEADER header{9, 300, {}};
    strcpy(header.serviceId, "service-id");
    vqLOCALJOBFILE file = File(0, 1, -1, "/f/", "n.bin", "http://h/p");
    const char tag[kLocalTagField] = {'t', 'a', 'g', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'z'};
    const unsigned char nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    struct Case {
        const char* name;
        std::function<vqRESULT()> send;
        unsigned subtype;
        Bytes payload;
    };
    const std::vector<Case> cases = {
        {"options", [&] { return layer->SendJobOptions(2); }, 0, Build().u8(2).zeros(16).b},
        {"tag", [&] { return layer->SendJobTag(tag); }, 1, Bytes(tag, tag + 20)},
        {"header", [&] { return layer->SendJobHeader(header); }, 19, Build().i32(9).i32(300).field("service-id", 33).b},
        {"file", [&] { return layer->SendJobFile(9, 4, file); }, 20,
         Build().i32(9).i32(4).u8(0).u8(1).i64(-1).field("/f/", 260).field("n.bin", 260).le(10, 2).field("http://h/p", 10).b},
        {"stop", [&] { return layer->SendStopJob(9, 77); }, 3, Build().i32(9).i32(77).b},
        {"service id", [&] { return layer->SendServiceId("abc"); }, 12, Build().field("abc", 260).b},
        {"service id null", [&] { return layer->SendServiceId(nullptr); }, 12, Build().zeros(260).b},
        {"service id long", [&] { return layer->SendServiceId(std::string(400, 'x').c_str()); }, 12,
         Build().field(std::string(259, 'x'), 260).b},
        {"13", [&] { return layer->SendMessage13(nine); }, 13, Bytes(nine, nine + 9)},
        {"engine flag", [&] { return layer->SendJobEngineFlag(-2); }, 17, Build().i32(-2).b},
        {"resume answer", [&] { return layer->SendResumeAnswer(77, 9, 1, 0); }, 18, Build().i32(77).i32(9).u8(1).u8(0).b},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sent.clear();
        EXPECT_EQ(c.send(), VQ_OK_NETWORK);
        ASSERT_EQ(sent.size(), 1u);
        const Bytes& frame = sent[0];
        const size_t total = (c.payload.size() + 14 + 7) / 8 * 8;
        ASSERT_EQ(frame.size(), total);
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 14),
                  Build().le(256, 2).le(c.subtype, 2).zeros(6).le(total - 14, 4).b);
        EXPECT_EQ(Bytes(frame.begin() + 14, frame.begin() + 14 + static_cast<long>(c.payload.size())), c.payload);
        EXPECT_EQ(Bytes(frame.begin() + 14 + static_cast<long>(c.payload.size()), frame.end()),
                  Bytes(total - 14 - c.payload.size(), 0));
    }
}

TEST_F(LocalClientLayerTest, ArgumentsThatCannotBeEncodedSendNothing)
{
    vqLOCALJOBHEADER header{1, 1, {}};
    vqLOCALJOBFILE noUrl = File(0, 0, 0, "/", "a", nullptr);
    EXPECT_EQ(layer->SendJob(header, &noUrl), VQ_E_NETWORK);
    EXPECT_EQ(layer->SendJobFile(1, 0, noUrl), VQ_E_NETWORK);
    const std::string huge(70000, 'u');
    vqLOCALJOBFILE longUrl = File(0, 0, 0, "/", "a", huge.c_str());
    EXPECT_EQ(layer->SendJobFile(1, 0, longUrl), VQ_E_NETWORK);
    header.fileCount = -1;
    EXPECT_EQ(layer->SendJob(header, nullptr), VQ_E_NETWORK);
    EXPECT_TRUE(sent.empty());
}

namespace {

// One of each engine message, with the listener line it must produce.
struct EngineMessage {
    Bytes frame;
    std::string call;
};

std::vector<EngineMessage> EveryEngineMessage()
{
    Build rejectedTail;
    rejectedTail.zeros(15).u8(9);
    Build record1, record2;
    record1.field("id-1", 33).i64(1000).i64(500).i32(250).zeros(12).text("first");
    record2.field("id-2", 33).i64(2000).i64(0).i32(0).zeros(12).text("");
    Build progress;
    progress.i32(5).i32(6).zeros(4).i32(2).i32(1).i64(3000).i64(500).i32(250).zeros(4).i64(42).zeros(8).i32(2);
    progress.b.insert(progress.b.end(), record1.b.begin(), record1.b.end());
    progress.b.insert(progress.b.end(), record2.b.begin(), record2.b.end());
    Build lost, restored;
    lost.u8(4).zeros(15);
    restored.zeros(15).u8(8);
    return {
        {EngineFrame(4, Build().i32(5).i32(6).i32(2).i64(0x100000000LL).b), "accepted 5 6 2 4294967296 c3"},
        {EngineFrame(11, Build().i32(5).i32(0).text("no files").zeros(15).u8(9).b), "rejected 5 no files t9 c3"},
        {EngineFrame(5, progress.b),
         "progress 5 6 2 1 3000 500 250 42 n2 [id-1 1000 500 250 first] [id-2 2000 0 0 ] c3"},
        {EngineFrame(6, Build().i32(5).i32(6).i32(0).i32(1).i32(2).b), "finished 5 6 1 2 c3"},
        {EngineFrame(7, Build().i32(5).i32(6).field("x", 33).field("/d/a.bin", 260).text("http://s/a").b),
         "done 5 6 /d/a.bin http://s/a c3"},
        {EngineFrame(8, Build().i32(5).i32(6).u8(1).text("disk").zeros(16).b), "error 5 6 1 disk c3"},
        {EngineFrame(9, lost.b), "lost 4 c3"},
        {EngineFrame(10, restored.b), "restored 8 c3"},
        {EngineFrame(15, Build().i32(5).i32(6).field("", 33).field("/d/b", 260).field("two", 260).text("src").b),
         "doneEx 5 6 /d/b two src c3"},
        {EngineFrame(16, Build().i32(5).b), "ask 5"},
        {EngineFrame(22, Build().i32(-7).b), "status -7 c3"},
    };
}

} // namespace

TEST_F(LocalClientLayerTest, EveryEngineMessageSplitAtEveryOffset)
{
    for (const EngineMessage& message : EveryEngineMessage()) {
        for (size_t split = 0; split <= message.frame.size(); ++split) {
            SCOPED_TRACE(message.call + " split " + std::to_string(split));
            listener.calls.clear();
            pending.clear();
            ASSERT_TRUE(Deliver(Bytes(message.frame.begin(), message.frame.begin() + static_cast<long>(split))));
            EXPECT_EQ(listener.calls.empty(), split < message.frame.size());
            ASSERT_TRUE(Deliver(Bytes(message.frame.begin() + static_cast<long>(split), message.frame.end())));
            EXPECT_EQ(listener.calls, std::vector<std::string>{message.call});
            EXPECT_TRUE(pending.empty());
        }
    }
}

TEST_F(LocalClientLayerTest, AllMessagesInOneSegmentThenByteByByte)
{
    Bytes stream;
    std::vector<std::string> expected;
    for (const EngineMessage& message : EveryEngineMessage()) {
        stream.insert(stream.end(), message.frame.begin(), message.frame.end());
        expected.push_back(message.call);
    }
    ASSERT_TRUE(Deliver(stream));
    EXPECT_EQ(listener.calls, expected);
    listener.calls.clear();
    for (unsigned char byte : stream) ASSERT_TRUE(Deliver(Bytes{byte}));
    EXPECT_EQ(listener.calls, expected);
}

TEST_F(LocalClientLayerTest, ProgressWithoutRecordsHasANullArray)
{
    Build progress;
    progress.i32(1).i32(2).zeros(4).i32(0).i32(0).i64(0).i64(0).i32(0).zeros(4).i64(0).zeros(8).i32(0);
    ASSERT_TRUE(Deliver(EngineFrame(5, progress.b)));
    EXPECT_EQ(listener.calls, std::vector<std::string>{"progress 1 2 0 0 0 0 0 0 n0 null c3"});
}

TEST_F(LocalClientLayerTest, UnknownOrMalformedMessagesCloseAndReachNobodyButTheProtocolError)
{
    Build header;
    header.i32(1).i32(2).zeros(4).i32(1).i32(0).i64(10).i64(0).i32(0).zeros(4).i64(0).zeros(8);
    auto progress = [&](int32_t count, const Bytes& rest) {
        Build p = header;
        p.i32(count);
        p.b.insert(p.b.end(), rest.begin(), rest.end());
        return p.b;
    };
    const Bytes oneRecord = Build().field("id", 33).i64(1).i64(1).i32(1).zeros(12).text("t").b;
    Bytes recordWithoutNul = Build().field("id", 33).i64(1).i64(1).i32(1).zeros(12).b;
    recordWithoutNul.push_back('x'); // exactly fills a padded frame: no NUL anywhere
    const Bytes fullPath(260, 'p');
    // Found by fuzzing: identifiers without their NUL were passed on, and a
    // listener reading one as text ran past the field.
    const std::string fullId(33, 'i');
    const Bytes recordWithFullId = Build().field(fullId, 33).i64(1).i64(1).i32(1).zeros(12).text("t").b;
    const struct {
        const char* name;
        Bytes frame;
    } cases[] = {
        {"subtype 3 from the engine", EngineFrame(3, Build().i32(1).i32(2).b)},
        {"type 258", EngineFrame(4, Build().i32(5).i32(6).i32(2).i64(1).b, 258)},
        {"acceptance too short", EngineFrame(4, Build().i32(5).i32(6).b)},
        {"rejection text runs past the payload", EngineFrame(11, Build().i32(5).i32(0).field("abcdefghij", 10).b)},
        {"progress count cannot fit", EngineFrame(5, progress(3, oneRecord))},
        {"progress count negative", EngineFrame(5, progress(-1, {}))},
        {"progress count huge", EngineFrame(5, progress(0x7FFFFFFF, oneRecord))},
        {"progress record text without NUL", EngineFrame(5, progress(1, recordWithoutNul))},
        {"file done path without NUL",
         EngineFrame(7, Build().i32(5).i32(6).field("", 33).field(std::string(fullPath.begin(), fullPath.end()), 260)
                            .text("src").b)},
        {"progress record identifier without NUL", EngineFrame(5, progress(1, recordWithFullId))},
        {"file done identifier without NUL",
         EngineFrame(7, Build().i32(5).i32(6).field(fullId, 33).field("/tmp/a", 260).text("src").b)},
        {"file done ex identifier without NUL",
         EngineFrame(15, Build().i32(5).i32(6).field(fullId, 33).field("/tmp/a", 260).field("b", 260).text("src").b)},
        {"error without its trailer", EngineFrame(8, Build().i32(5).i32(6).u8(1).text("disk space left").b)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        listener.calls.clear();
        pending.clear();
        object.Assign(nullptr);
        ASSERT_TRUE(object.CreateInstance(CLSID_nwCCDNLocalClientLayer));
        layer = object.As<vqICDNLocalClientLayer>();
        void* view = nullptr;
        ASSERT_TRUE(object.QueryInterface(IID_nwIQoSNetStack, &view));
        stack = static_cast<nwCApplicationStack*>(static_cast<nwIQoSNetStack*>(view));
        stack->SetContext(&context);
        layer->SetEventListener(&listener, 3);
        // A good message behind the bad one in the same segment is not dispatched either.
        Bytes stream = c.frame;
        const Bytes good = EngineFrame(22, Build().i32(1).b);
        stream.insert(stream.end(), good.begin(), good.end());
        EXPECT_FALSE(Deliver(stream));
        // Only that the peer speaks no engine protocol, before the close.
        EXPECT_EQ(listener.calls, std::vector<std::string>{"protocol error 3"});
        EXPECT_FALSE(Deliver(good));
        stack->OnClose();
        EXPECT_EQ(listener.calls, (std::vector<std::string>{"protocol error 3", "closed 3"}));
    }
}

TEST_F(LocalClientLayerTest, ConnectionEventsAndDetachingInsideACall)
{
    EXPECT_TRUE(stack->OnConnected());
    EXPECT_TRUE(stack->OnEvent(1, 0));
    EXPECT_TRUE(stack->OnEvent(4, 0)); // idle: nothing to tell
    listener.onCall = [&] {
        if (listener.calls.back().rfind("status", 0) == 0) layer->SetEventListener(nullptr, 0);
    };
    Bytes two = EngineFrame(22, Build().i32(1).b);
    const Bytes ask = EngineFrame(16, Build().i32(2).b);
    two.insert(two.end(), ask.begin(), ask.end());
    ASSERT_TRUE(Deliver(two));
    EXPECT_TRUE(pending.empty());
    stack->OnClose();
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"connected 3", "timeout 3", "status 1 c3"}));
}
