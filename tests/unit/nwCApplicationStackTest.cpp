#include "MockQoSContext.h"
#include "netlib/runtime/nwCApplicationStack.h"

#include <gtest/gtest.h>

#include <vector>

using testing::_;
using testing::Invoke;
using testing::Return;

namespace {

class PlainLayer : public nwCApplicationStack {
public:
    vqRESULT AddRef() override { return VQ_OK; }
    vqRESULT Release() override { return VQ_OK; }
    bool OnConnected() override { return true; }
    void OnClosed() override { closedWhileStopped = m_dispatcher.Stopped(); }
    bool OnIdleTimeout() override { return false; }
    nwCStreamDispatcher& Dispatcher() { return m_dispatcher; }
    bool closedWhileStopped = false;
};

} // namespace

TEST(nwCApplicationStack, SendFrameSendsThePaddedFrameWithItsHeader)
{
    testing::StrictMock<MockQoSContext> context;
    PlainLayer layer;
    layer.SetContext(&context);
    std::vector<unsigned char> sent;
    EXPECT_CALL(context, SendFromLayer(&layer, _)).WillOnce(Invoke([&](nwIQoSNetStack*, const vqBUFFER& buffer) {
        const auto* bytes = static_cast<const unsigned char*>(buffer.data);
        sent.assign(bytes, bytes + buffer.length);
        return VQ_OK_PLATFORM;
    }));
    unsigned char* payload = nwCApplicationStack::AllocFrame(10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(payload[i], 0);
    for (int i = 0; i < 10; ++i) payload[i] = static_cast<unsigned char>('a' + i);
    EXPECT_EQ(layer.SendFrame(0x9A, payload, 10, 768), VQ_OK_NETWORK);
    const std::vector<unsigned char> expected = {0x00, 0x03, 0x9A, 0x00, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0,
                                                 'a',  'b',  'c',  'd',  'e', 'f', 'g', 'h', 'i', 'j', 0, 0, 0, 0};
    EXPECT_EQ(sent.size(), 24u);
    EXPECT_EQ(sent, std::vector<unsigned char>(expected.begin(), expected.begin() + 24));
}

TEST(nwCApplicationStack, FrameSizes)
{
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 16}, {1, 16}, {2, 16}, {3, 24}, {10, 24}, {898, 912}, {4, 24}};
    for (const auto& [payload, total] : cases) EXPECT_EQ(nwCApplicationStack::FrameSize(payload), total) << payload;
}

TEST(nwCApplicationStack, EventsRouteToTheirHandlers)
{
    PlainLayer layer;
    EXPECT_TRUE(layer.OnEvent(1, 0));  // connect timeout: default lets it pass
    EXPECT_TRUE(layer.OnEvent(2, 0));  // send drained: default
    EXPECT_FALSE(layer.OnEvent(4, 0)); // idle: overridden
    EXPECT_TRUE(layer.OnEvent(32, 0));
    EXPECT_TRUE(layer.OnEvent(64, 0));
    EXPECT_TRUE(layer.OnUnreachable());
}

TEST(nwCApplicationStack, CloseStopsTheDispatcherBeforeOnClosed)
{
    PlainLayer layer;
    layer.OnClose();
    EXPECT_TRUE(layer.closedWhileStopped);
    const unsigned char bytes[16] = {};
    EXPECT_EQ(layer.OnReceive(bytes, sizeof bytes), 0);
}

TEST(nwCApplicationStack, ForwardersNeedAContext)
{
    PlainLayer layer;
    EXPECT_EQ(layer.DeliverUp(nullptr, 0), 0);
    EXPECT_EQ(layer.Close(), VQ_E_NETWORK);
    testing::StrictMock<MockQoSContext> context;
    layer.SetContext(&context);
    const unsigned char bytes[3] = {1, 2, 3};
    EXPECT_CALL(context, DeliverUp(&layer, bytes, 3)).WillOnce(Return(2));
    EXPECT_CALL(context, NotifyUpperConnected(&layer)).WillOnce(Return(VQ_OK_PLATFORM));
    EXPECT_CALL(context, Close()).WillOnce(Return(VQ_OK_PLATFORM));
    EXPECT_EQ(layer.DeliverUp(bytes, 3), 2);
    EXPECT_EQ(layer.NotifyUpperConnected(), VQ_OK_PLATFORM);
    EXPECT_EQ(layer.Close(), VQ_OK_PLATFORM);
}
