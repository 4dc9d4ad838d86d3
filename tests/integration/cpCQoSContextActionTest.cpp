// Pump strategies over a real loopback connection: what crosses the socket
// under which budget.

#include "netlib/runtime/cpCQoSBudget.h"
#include "netlib/runtime/cpCQoSContextAction.h"
#include "netlib/runtime/cpCQoSLowServerContextAction.h"
#include "netlib/runtime/cpSocketFunctions.h"
#include "netlib/runtime/cpSocketRecord.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

class PumpTest : public testing::Test {
protected:
    void SetUp() override
    {
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener, 1), 0);
        socklen_t length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        ASSERT_EQ(cpSocketCreate(record, cpSOCKET_STREAM), VQ_OK_PLATFORM);
        ASSERT_EQ(cpSocketConnect(record, cpADDRESS{htonl(INADDR_LOOPBACK), ntohs(address.sin_port)}), VQ_OK_PLATFORM);
        peer = accept(listener, nullptr, nullptr);
        close(listener);
        ASSERT_GE(peer, 0);
        ASSERT_EQ(cpSocketSetBlocking(record, 0), VQ_OK_PLATFORM);
    }
    void TearDown() override
    {
        delete[] send.data;
        delete[] receive.data;
        cpSocketClose(record);
        if (peer >= 0) close(peer);
    }
    // Waits until the pumped socket has data to read; false after 10 s.
    bool AwaitData() const
    {
        pollfd p{record->socket, POLLIN, 0};
        return poll(&p, 1, 10000) == 1;
    }
    void Use(cpCQoSContextAction* made)
    {
        action.reset(made);
        ASSERT_NE(action, nullptr);
        action->Attach(record, &send, &receive);
    }
    void Queue(uint32_t length)
    {
        send.data = new unsigned char[length];
        for (uint32_t i = 0; i < length; ++i) send.data[i] = static_cast<unsigned char>(i);
        send.offset = 0;
        send.length = length;
    }
    // Everything the peer can read within a few seconds, up to expected bytes.
    size_t PeerReads(size_t expected)
    {
        size_t total = 0;
        unsigned char buffer[65536];
        while (total < expected) {
            pollfd p{peer, POLLIN, 0};
            if (poll(&p, 1, 10000) != 1) break;
            ssize_t n = recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i)
                if (buffer[i] != static_cast<unsigned char>(total + static_cast<size_t>(i))) return 0;
            total += static_cast<size_t>(n);
        }
        return total;
    }
    void PeerWrites(size_t length)
    {
        std::vector<unsigned char> bytes(length, 0x5A);
        ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(length));
        ASSERT_TRUE(AwaitData());
    }

    cpSocketRecord* record = nullptr;
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

TEST_F(PumpTest, UnlimitedSendSendsTheWholeBuffer)
{
    Use(cpCQoSContextAction::Make(cpQOS_HIGH));
    Queue(10000);
    int32_t sent = 0;
    EXPECT_TRUE(action->SendPump(&sent));
    EXPECT_EQ(sent, 10000);
    EXPECT_EQ(send.offset, 10000u);
    EXPECT_EQ(PeerReads(10000), 10000u);
}

TEST_F(PumpTest, BudgetedSendIsGrantedChunkByChunk)
{
    Use(cpCQoSContextAction::Make(cpQOS_OWN_SEND_ONLY));
    const int32_t limit = 5000;
    action->SetLimit(cpQOS_LIMIT_SEND, &limit);
    action->CollectUsage(nullptr, nullptr);
    Queue(10000);
    int32_t sent = 0;
    EXPECT_TRUE(action->SendPump(&sent)); // 4096, then the 904 left of this second
    EXPECT_EQ(sent, 5000);
    EXPECT_EQ(send.offset, 5000u);
    EXPECT_TRUE(action->TakeSendBlocked());
    uint32_t received = 0, sentTotal = 0;
    action->CollectUsage(&received, &sentTotal);
    EXPECT_EQ(sentTotal, 5000u);
    EXPECT_TRUE(action->SendPump(&sent));
    EXPECT_EQ(sent, 5000);
    EXPECT_EQ(PeerReads(10000), 10000u);
}

TEST_F(PumpTest, UnlimitedReceiveAppendsAndYieldsAboveOneMebibyte)
{
    Use(cpCQoSContextAction::Make(cpQOS_HIGH));
    PeerWrites(3000);
    EXPECT_EQ(action->ReceivePump(), 3000);
    EXPECT_EQ(receive.length, 3000u);
    EXPECT_EQ(receive.data[2999], 0x5A);
    // As if the layers had left 1048000 bytes unconsumed.
    delete[] receive.data;
    receive.data = new unsigned char[1048576];
    receive.capacity = 1048576;
    receive.length = 1048000;
    PeerWrites(5000);
    EXPECT_EQ(action->ReceivePump(), 1024); // one read, then it yields
    EXPECT_EQ(receive.length, 1049024u);
    EXPECT_GE(receive.capacity, receive.length);
}

TEST_F(PumpTest, HardSendErrorAnswersFalse)
{
    Use(cpCQoSContextAction::Make(cpQOS_HIGH));
    linger reset{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(peer); // a reset: the next send fails hard
    peer = -1;
    pollfd p{record->socket, POLLIN, 0};
    poll(&p, 1, 10000);
    Queue(100);
    int32_t sent = 0;
    EXPECT_FALSE(action->SendPump(&sent));
    EXPECT_EQ(sent, 0);
}

TEST_F(PumpTest, OwnBudgetWithLimitsNeverSetMovesNothing)
{
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
    Use(cpCQoSContextAction::Make(cpQOS_OWN_RECEIVE_ONLY));
    const int32_t limit = 4096;
    action->SetLimit(cpQOS_LIMIT_RECEIVE, &limit);
    const int32_t ignored = 99;
    action->SetLimit(2, &ignored);
    PeerWrites(20000);
    // A new connection's first limit is the budget of the period under way.
    EXPECT_EQ(action->ReceivePump(), 4096);
    EXPECT_TRUE(action->TakeReceiveBlocked());
    uint32_t received = 0, sentTotal = 0;
    action->CollectUsage(&received, &sentTotal);
    EXPECT_EQ(received, 4096u);
    // A later limit waits for the next tick.
    const int32_t lower = 1024;
    action->SetLimit(cpQOS_LIMIT_RECEIVE, &lower);
    EXPECT_EQ(action->ReceivePump(), 4096);
    action->CollectUsage(&received, &sentTotal);
    EXPECT_EQ(action->ReceivePump(), 1024);
    action->SetLimit(cpQOS_LIMIT_RECEIVE, &limit);
    action->CollectUsage(&received, &sentTotal);
    received = 0;
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

TEST_F(PumpTest, ReceiveLimitOf393216BytesHoldsBetweenTwoTicks)
{
    Use(cpCQoSContextAction::Make(cpQOS_OWN_RECEIVE_ONLY));
    const int32_t limit = 393216;
    action->SetLimit(cpQOS_LIMIT_RECEIVE, &limit);
    action->CollectUsage(nullptr, nullptr);
    // The peer offers more than a second's worth; the socket buffers take
    // what they can while the pump drains them.
    std::thread writer([this] {
        std::vector<unsigned char> bytes(900000, 0x11);
        size_t sent = 0;
        while (sent < bytes.size()) {
            pollfd p{peer, POLLOUT, 0};
            if (poll(&p, 1, 10000) != 1) break;
            ssize_t n = ::send(peer, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
    });
    int64_t total = 0;
    while (!action->TakeReceiveBlocked()) {
        ASSERT_TRUE(AwaitData());
        total += action->ReceivePump();
        receive.length = 0; // consumed by the layers
    }
    EXPECT_EQ(total, 393216);
    EXPECT_EQ(action->ReceivePump(), 0); // nothing more this second
    EXPECT_TRUE(action->TakeReceiveBlocked());
    uint32_t received = 0, sentTotal = 0;
    action->CollectUsage(&received, &sentTotal);
    EXPECT_EQ(received, 393216u);
    while (!action->TakeReceiveBlocked()) {
        ASSERT_TRUE(AwaitData());
        total += action->ReceivePump();
        receive.length = 0;
    }
    EXPECT_EQ(total, 2 * 393216);
    shutdown(peer, SHUT_RDWR);
    writer.join();
}
