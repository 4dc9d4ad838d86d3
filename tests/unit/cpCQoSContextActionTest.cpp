// Pump strategies over a real socket pair in this process: what crosses the
// socket, in which pieces, under which budget.

#include "netlib/runtime/cpCQoSBudget.h"
#include "netlib/runtime/cpCQoSContextAction.h"
#include "netlib/runtime/cpCQoSLowServerContextAction.h"
#include "netlib/runtime/cpSocketRecord.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

class PumpTest : public testing::Test {
protected:
    void Connect(int type)
    {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, type | SOCK_NONBLOCK, 0, fds), 0);
        record.socket = fds[0];
        peer = fds[1];
    }
    void TearDown() override
    {
        delete[] send.data;
        delete[] receive.data;
        if (record.socket != INVALID_SOCKET) close(record.socket);
        if (peer >= 0) close(peer);
    }
    void Use(cpCQoSContextAction* made)
    {
        action.reset(made);
        ASSERT_NE(action, nullptr);
        action->Attach(&record, &send, &receive);
    }
    void Queue(uint32_t length)
    {
        send.data = new unsigned char[length];
        for (uint32_t i = 0; i < length; ++i) send.data[i] = static_cast<unsigned char>(i);
        send.offset = 0;
        send.length = length;
    }
    std::vector<ssize_t> PeerMessages()
    {
        std::vector<ssize_t> sizes;
        unsigned char buffer[65536];
        ssize_t n;
        while ((n = recv(peer, buffer, sizeof buffer, 0)) > 0) sizes.push_back(n);
        return sizes;
    }
    void PeerWrites(size_t length)
    {
        std::vector<unsigned char> bytes(length, 0x5A);
        ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(length));
    }

    cpSocketRecord record;
    int peer = -1;
    cpQoSSendBuffer send;
    cpQoSReceiveBuffer receive;
    std::unique_ptr<cpCQoSContextAction> action;
};

} // namespace

TEST(cpCQoSContextAction, FactoryMakesTheSevenTypes)
{
    for (int type = 1; type <= 7; ++type) {
        std::unique_ptr<cpCQoSContextAction> made(cpCQoSContextAction::Make(type));
        ASSERT_NE(made, nullptr) << type;
        EXPECT_EQ(made->GetType(), type);
    }
    EXPECT_EQ(cpCQoSContextAction::Make(0), nullptr);
    EXPECT_EQ(cpCQoSContextAction::Make(8), nullptr);
}

TEST_F(PumpTest, UnlimitedSendGoesOutIn4096ByteChunks)
{
    Connect(SOCK_SEQPACKET); // keeps every send as one message
    Use(cpCQoSContextAction::Make(cpQOS_HIGH));
    Queue(10000);
    int32_t sent = 0;
    EXPECT_TRUE(action->SendPump(&sent));
    EXPECT_EQ(sent, 10000);
    EXPECT_EQ(send.offset, 10000u);
    EXPECT_EQ(PeerMessages(), (std::vector<ssize_t>{4096, 4096, 1808}));
}

TEST_F(PumpTest, UnlimitedReceiveAppendsAndYieldsAboveOneMebibyte)
{
    Connect(SOCK_STREAM);
    Use(cpCQoSContextAction::Make(cpQOS_HIGH));
    PeerWrites(3000);
    EXPECT_EQ(action->ReceivePump(), 3000);
    EXPECT_EQ(receive.length, 3000u);
    EXPECT_EQ(receive.data[2999], 0x5A);
    receive.length = 1048000; // as if the layers had not consumed anything yet
    PeerWrites(5000);
    EXPECT_EQ(action->ReceivePump(), 1024); // one read, then it yields
    EXPECT_EQ(receive.length, 1049024u);
    EXPECT_GE(receive.capacity, receive.length);
}

TEST_F(PumpTest, HardSendErrorAnswersFalse)
{
    Connect(SOCK_STREAM);
    Use(cpCQoSContextAction::Make(cpQOS_HIGH));
    close(peer);
    peer = -1;
    Queue(100);
    int32_t sent = 0;
    EXPECT_FALSE(action->SendPump(&sent));
    EXPECT_EQ(sent, 0);
}

TEST_F(PumpTest, OwnBudgetWithLimitsNeverSetMovesNothing)
{
    Connect(SOCK_STREAM);
    Use(cpCQoSContextAction::Make(cpQOS_OWN));
    PeerWrites(100);
    Queue(100);
    int32_t sent = -1;
    EXPECT_TRUE(action->SendPump(&sent));
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(action->ReceivePump(), 0);
    EXPECT_TRUE(action->TakeSendBlocked());
    EXPECT_TRUE(action->TakeReceiveBlocked());
    EXPECT_FALSE(action->TakeReceiveBlocked()); // reported once
    action->CollectUsage(nullptr, nullptr); // a tick with limits 0 changes nothing
    EXPECT_EQ(action->ReceivePump(), 0);
}

TEST_F(PumpTest, ReceiveOnlyLimitCapsEachSecondAndSendsFreely)
{
    Connect(SOCK_STREAM);
    Use(cpCQoSContextAction::Make(cpQOS_OWN_RECEIVE_ONLY));
    const int32_t limit = 4096;
    action->SetLimit(cpQOS_LIMIT_RECEIVE, &limit);
    const int32_t ignored = 99;
    action->SetLimit(2, &ignored);
    PeerWrites(10000);
    EXPECT_EQ(action->ReceivePump(), 0); // the limit applies from the next tick
    uint32_t received = 0, sentTotal = 0;
    action->CollectUsage(&received, &sentTotal);
    EXPECT_EQ(action->ReceivePump(), 4096);
    EXPECT_TRUE(action->TakeReceiveBlocked());
    action->CollectUsage(&received, &sentTotal);
    EXPECT_EQ(received, 4096u);
    EXPECT_EQ(action->ReceivePump(), 4096);
    Queue(9000);
    int32_t sent = 0;
    EXPECT_TRUE(action->SendPump(&sent));
    EXPECT_EQ(sent, 9000);
    EXPECT_FALSE(action->TakeSendBlocked());
}

TEST_F(PumpTest, SharedBudgetStopsAndResumesAfterTheRefill)
{
    Connect(SOCK_STREAM);
    cpCQoSBudget budget;
    Use(new cpCQoSLowServerContextAction(&budget));
    Queue(5000);
    int32_t sent = 0;
    EXPECT_TRUE(action->SendPump(&sent)); // nothing granted before the first refill
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(action->TakeSendBlocked());
    budget.Refill();
    EXPECT_TRUE(action->SendPump(&sent));
    EXPECT_EQ(sent, 5000);
    EXPECT_EQ(budget.SendGranted(), 5000u);
    PeerWrites(2500);
    EXPECT_EQ(action->ReceivePump(), 2500);
    // Grants for bytes that did not arrive go back to the budget.
    EXPECT_EQ(budget.ReceiveGranted(), 2500u);
}

TEST(cpCQoSBudget, GrantsNeverExceedTheAllowance)
{
    cpCQoSBudget budget;
    EXPECT_EQ(budget.GrantSend(10), 0u);
    budget.Refill();
    EXPECT_EQ(budget.GrantSend(cpCQoSBudget::kDefaultBytesPerSecond - 100), cpCQoSBudget::kDefaultBytesPerSecond - 100);
    EXPECT_EQ(budget.GrantSend(4096), 100u);
    EXPECT_EQ(budget.GrantSend(1), 0u);
    budget.ReturnSend(50);
    EXPECT_EQ(budget.GrantSend(4096), 50u);
    EXPECT_EQ(budget.GrantReceive(1024), 1024u); // directions are apart
}
