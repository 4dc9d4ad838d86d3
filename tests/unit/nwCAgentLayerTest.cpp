#include "MockQoSContext.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwCAgentLayer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing::_;
using testing::Invoke;

namespace {

typedef std::vector<unsigned char> Bytes;

class RecordingListener : public nwIAgentListener {
public:
    std::vector<std::string> calls;
    void OnAgentConnected(int32_t cookie) override { calls.push_back("connected " + std::to_string(cookie)); }
    void OnAgentReply(int32_t cookie, uint8_t value) override
    {
        calls.push_back("reply " + std::to_string(cookie) + " " + std::to_string(value));
    }
    void OnAgentClosed(int32_t cookie) override { calls.push_back("closed " + std::to_string(cookie)); }
    void OnAgentConnectTimeout(int32_t cookie) override { calls.push_back("timeout " + std::to_string(cookie)); }
    void OnAgentRecvTimeout(int32_t cookie) override { calls.push_back("idle " + std::to_string(cookie)); }
};

Bytes ReplyFrame(uint32_t payloadLength, uint8_t value)
{
    Bytes frame(14 + payloadLength, 0);
    frame[0] = 0x00;
    frame[1] = 0x03;
    frame[2] = 0x83;
    frame[10] = static_cast<unsigned char>(payloadLength);
    if (payloadLength > 0) frame[14] = value;
    return frame;
}

class AgentLayerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(object.CreateInstance(CLSID_nwCAgentLayer));
        agent = object.As<vqIAgentLayer>();
        void* view = nullptr;
        ASSERT_TRUE(object.QueryInterface(IID_nwIQoSNetStack, &view));
        stack = static_cast<nwCApplicationStack*>(static_cast<nwIQoSNetStack*>(view));
        stack->SetContext(&context);
        agent->SetEventListener(&listener, 7);
        ON_CALL(context, SendFromLayer(_, _)).WillByDefault(Invoke([this](nwIQoSNetStack*, const vqBUFFER& buffer) {
            const auto* bytes = static_cast<const unsigned char*>(buffer.data);
            sent.emplace_back(bytes, bytes + buffer.length);
            return VQ_OK_PLATFORM;
        }));
    }
    int32_t Feed(const Bytes& bytes) { return stack->OnReceive(bytes.data(), static_cast<uint32_t>(bytes.size())); }

    testing::NiceMock<MockQoSContext> context;
    vqSmartPtr object;
    vqIAgentLayer* agent = nullptr;
    nwCApplicationStack* stack = nullptr;
    RecordingListener listener;
    std::vector<Bytes> sent;
};

} // namespace

TEST_F(AgentLayerTest, ReportOfThreeEntriesIsOneFrameOf912Bytes)
{
    Bytes entries(3 * kAgentEntrySize);
    for (size_t i = 0; i < entries.size(); ++i) entries[i] = static_cast<unsigned char>(i * 7);
    EXPECT_EQ(agent->SendReport(vqAGENTREPORT{3, entries.data()}), VQ_OK_NETWORK);
    ASSERT_EQ(sent.size(), 1u);
    const Bytes& frame = sent[0];
    ASSERT_EQ(frame.size(), 912u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 14), (Bytes{0x00, 0x03, 0x9A, 0x00, 0, 0, 0, 0, 0, 0, 0x82, 0x03, 0, 0}));
    EXPECT_EQ(Bytes(frame.begin() + 14, frame.begin() + 18), (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(Bytes(frame.begin() + 18, frame.end()), entries); // 14 + 898 needs no padding
}

TEST_F(AgentLayerTest, EmptyReportIsA24ByteFrame)
{
    agent->SendReport(vqAGENTREPORT{0, nullptr});
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x00, 0x03, 0x9A, 0x00, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(AgentLayerTest, RepliesArriveWithTheirFirstByte)
{
    Bytes two = ReplyFrame(2, 0x05);
    Bytes second = ReplyFrame(2, 0xFF);
    two.insert(two.end(), second.begin(), second.end());
    EXPECT_EQ(Feed(two), 32); // two replies in one segment
    Bytes empty = ReplyFrame(0, 0);
    EXPECT_EQ(Feed(empty), 14); // no payload: read as 0, nothing past the frame
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"reply 7 5", "reply 7 255", "reply 7 0"}));
}

TEST_F(AgentLayerTest, AnyOtherFrameEndsTheConnection)
{
    Bytes frame = ReplyFrame(2, 1);
    frame[2] = 0x9A; // a report echoed back
    EXPECT_EQ(Feed(frame), -1);
    EXPECT_TRUE(listener.calls.empty());
}

TEST_F(AgentLayerTest, ConnectionEventsReachTheListenerOnlyWhileSet)
{
    EXPECT_TRUE(stack->OnConnected());
    EXPECT_TRUE(stack->OnEvent(1, 0));
    EXPECT_TRUE(stack->OnEvent(4, 0));
    EXPECT_TRUE(stack->OnEvent(2, 0));
    agent->SetEventListener(nullptr, 0);
    EXPECT_EQ(Feed(ReplyFrame(2, 1)), 16);
    agent->SetEventListener(&listener, 9);
    stack->OnClose();
    EXPECT_EQ(listener.calls, (std::vector<std::string>{"connected 7", "timeout 7", "idle 7", "closed 9"}));
}

TEST_F(AgentLayerTest, AnswersOnlyTheStackInterface)
{
    void* out = nullptr;
    EXPECT_EQ(agent->QueryInterface(0x2017, &out), VQ_E_NETWORK);
    EXPECT_EQ(out, nullptr);
}
