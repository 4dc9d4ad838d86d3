// The pumps' decisions against a scripted socket: chunk sizes, re-arms and
// what a partial send does to the budget.

#include "netlib/runtime/cpCQoSHighContextAction.h"
#include "netlib/runtime/cpCQoSOwnSendOnlyContextAction.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace {

// A socket that takes what the script says and records every call.
template <class Action>
class Scripted : public Action {
public:
    std::vector<uint32_t> sendSizes;
    std::deque<int32_t> accept; // bytes each send takes; empty: all of it
    int rearms = 0;

protected:
    vqRESULT SocketSend(const unsigned char*, uint32_t length, int32_t* sent) override
    {
        sendSizes.push_back(length);
        if (!accept.empty()) {
            const int32_t taken = accept.front();
            accept.pop_front();
            if (taken < 0) {
                *sent = -1;
                return VQ_E_WOULDBLOCK;
            }
            *sent = taken;
            return VQ_OK_PLATFORM;
        }
        *sent = static_cast<int32_t>(length);
        return VQ_OK_PLATFORM;
    }
    vqRESULT SocketReceive(unsigned char*, uint32_t, int32_t* received) override
    {
        *received = -1;
        return VQ_E_WOULDBLOCK;
    }
    void SocketRearm() override { ++rearms; }
};

struct Buffers {
    std::vector<unsigned char> bytes;
    cpQoSSendBuffer send;
    cpQoSReceiveBuffer receive;
    explicit Buffers(uint32_t length) : bytes(length, 0x42)
    {
        send.data = bytes.data();
        send.length = length;
    }
};

} // namespace

TEST(PumpScript, TenThousandBytesGoOutIn4096_4096_1808WithOneRearm)
{
    Scripted<cpCQoSHighContextAction> action;
    Buffers buffers(10000);
    action.Attach(nullptr, &buffers.send, &buffers.receive);
    int32_t sent = 0;
    EXPECT_TRUE(action.SendPump(&sent));
    EXPECT_EQ(sent, 10000);
    EXPECT_EQ(action.sendSizes, (std::vector<uint32_t>{4096, 4096, 1808}));
    EXPECT_EQ(action.rearms, 1);
}

TEST(PumpScript, WouldBlockStopsAndRearms)
{
    Scripted<cpCQoSHighContextAction> action;
    action.accept = {4096, -1};
    Buffers buffers(10000);
    action.Attach(nullptr, &buffers.send, &buffers.receive);
    int32_t sent = 0;
    EXPECT_TRUE(action.SendPump(&sent));
    EXPECT_EQ(sent, 4096);
    EXPECT_EQ(buffers.send.offset, 4096u);
    EXPECT_EQ(action.rearms, 1);
}

TEST(PumpScript, PartialSendKeepsTheWholeGrantUsed)
{
    Scripted<cpCQoSOwnSendOnlyContextAction> action;
    const int32_t limit = 10000;
    action.SetLimit(1, &limit);
    action.accept = {1000, -1}; // 1000 of a 4096-byte grant, then the socket is full
    Buffers buffers(8000);
    action.Attach(nullptr, &buffers.send, &buffers.receive);
    int32_t sent = 0;
    EXPECT_TRUE(action.SendPump(&sent));
    EXPECT_EQ(sent, 1000);
    EXPECT_EQ(action.sendSizes, (std::vector<uint32_t>{4096, 4096}));
    uint32_t receivedTotal = 0, sentTotal = 0;
    action.CollectUsage(&receivedTotal, &sentTotal);
    // The first grant stays counted in full; the second, refused, came back.
    EXPECT_EQ(sentTotal, 4096u);
}
