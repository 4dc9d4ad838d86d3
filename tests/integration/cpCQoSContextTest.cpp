// The connection context on real loopback sockets, driven through the
// thread's own message loop, with the wall clock injected for its timers.

#include "netlib/core/cpCMutex.h"
#include "netlib/core/cpClock.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/CVyx.h"
#include "netlib/runtime/cpCQoSContext.h"
#include "netlib/runtime/cpCTimerManager.h"
#include "netlib/runtime/nwCApplicationStack.h"
#include "platform/MessageLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kScriptLayerId = 0x7F01;
uint64_t g_nowMs = 1700000000000ull;
uint64_t FakeClock()
{
    return g_nowMs;
}

// A layer that records what its context tells it and consumes as told.
class ScriptLayer : public nwCApplicationStack {
public:
    static ScriptLayer* last;
    ScriptLayer() { last = this; }
    vqRESULT AddRef() override
    {
        ++m_refs;
        return VQ_OK;
    }
    vqRESULT Release() override
    {
        if (--m_refs == 0) delete this;
        return VQ_OK;
    }
    vqRESULT QueryInterface(uint32_t id, void** out) override
    {
        if (id != IID_nwIQoSNetStack) return VQ_E_NETWORK;
        *out = static_cast<nwIQoSNetStack*>(this);
        return VQ_OK_NETWORK;
    }
    bool OnConnected() override
    {
        events.push_back("connected");
        return true;
    }
    int32_t OnReceive(const unsigned char* bytes, uint32_t length) override
    {
        deliveries.emplace_back(reinterpret_cast<const char*>(bytes), length);
        return consume >= 0 && static_cast<uint32_t>(consume) < length ? consume : static_cast<int32_t>(length);
    }
    void OnClosed() override { events.push_back("closed"); }
    bool OnConnectTimeout() override
    {
        events.push_back("timeout");
        return true;
    }
    bool OnIdleTimeout() override
    {
        events.push_back("idle");
        return true;
    }
    std::vector<std::string> events;
    std::vector<std::string> deliveries;
    int32_t consume = -1; // -1: everything

private:
    int32_t m_refs = 0;
};
ScriptLayer* ScriptLayer::last = nullptr;

vqIUnknown* MakeScriptLayer()
{
    return static_cast<nwIQoSNetStack*>(new ScriptLayer());
}

class ContextTest : public testing::Test {
protected:
    void SetUp() override
    {
        cpSetClockForTesting(&FakeClock);
        vqRegisterClassForTesting(kScriptLayerId, &MakeScriptLayer);
        ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
        network = std::make_unique<CVyx>(lock.As<cpCMutex>());
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener, 0), 0);
        socklen_t length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        target = cpADDRESS{htonl(INADDR_LOOPBACK), ntohs(address.sin_port)};
        ASSERT_TRUE(object.CreateInstance(CLSID_cpCQoSContext));
        context = object.As<vqIQoSContext>();
    }
    void TearDown() override
    {
        if (context) context->Close();
        object.Assign(nullptr);
        network.reset();
        if (peer >= 0) close(peer);
        for (int fd : extra) close(fd);
        close(listener);
        vqRegisterClassForTesting(0, nullptr);
        cpSetClockForTesting(nullptr);
    }
    // Runs this thread's messages until done() or 10 s of real time.
    bool PumpUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MSG msg;
            if (GetMessageTimeout(&msg, 20)) DispatchMessage(&msg);
        }
        return true;
    }
    // Runs every message already queued for this thread.
    void Drain()
    {
        MSG msg;
        while (PeekMessage(&msg, true)) DispatchMessage(&msg);
    }
    void OpenWithLayer(uint32_t mask)
    {
        ASSERT_EQ(context->Open(1, mask, nullptr), VQ_OK_PLATFORM);
        ASSERT_EQ(context->AddLayer(kScriptLayerId, false), VQ_OK_PLATFORM);
        layer = ScriptLayer::last;
    }
    void ConnectAndAccept()
    {
        ASSERT_EQ(context->Connect(target), VQ_OK_PLATFORM);
        ASSERT_TRUE(PumpUntil([&] { return !layer->events.empty(); }));
        ASSERT_EQ(layer->events[0], "connected");
        peer = accept(listener, nullptr, nullptr);
        ASSERT_GE(peer, 0);
    }
    int32_t State()
    {
        int32_t state = -1;
        context->GetState(&state);
        return state;
    }
    std::string PeerRead(size_t length)
    {
        std::string got;
        while (got.size() < length) {
            pollfd p{peer, POLLIN, 0};
            if (poll(&p, 1, 10000) != 1) break;
            char buffer[4096];
            ssize_t n = recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    vqSmartPtr lock;
    std::unique_ptr<CVyx> network;
    vqSmartPtr object;
    vqIQoSContext* context = nullptr;
    ScriptLayer* layer = nullptr;
    int listener = -1;
    int peer = -1;
    std::vector<int> extra;
    cpADDRESS target{};
};

} // namespace

TEST_F(ContextTest, StateAndSettingRules)
{
    EXPECT_EQ(context->Connect(target), VQ_E_PLATFORM); // before Open
    ASSERT_EQ(context->Open(1, 1, nullptr), VQ_OK_PLATFORM);
    EXPECT_EQ(State(), QOS_OPEN);
    EXPECT_EQ(context->Open(1, 5, nullptr), VQ_E_PLATFORM);
    EXPECT_EQ(State(), QOS_OPEN);
    context->AddEventMask(3); // bit 1 is set already: nothing changes
    context->AddEventMask(4);
    context->RemoveEventMask(1);
    uint32_t rate = 0;
    EXPECT_EQ(context->GetReceiveRate(&rate), VQ_E_PLATFORM); // bit 8 not set
    context->AddEventMask(8);
    EXPECT_EQ(context->GetReceiveRate(&rate), VQ_OK_PLATFORM);
    const int32_t seconds = 3;
    EXPECT_EQ(context->SetParam(QOS_PARAM_IDLE_LIMIT, &seconds), VQ_OK_PLATFORM);
    EXPECT_EQ(context->SetParam(2, &seconds), VQ_E_PLATFORM);
    EXPECT_EQ(context->SetAction(9), VQ_E_PLATFORM);
    EXPECT_EQ(context->SetActionLimit(0, &seconds), VQ_E_PLATFORM); // no action left
    EXPECT_EQ(context->SetAction(6), VQ_OK_PLATFORM);
    EXPECT_EQ(context->SetHostName(std::string(255, 'h').c_str()), VQ_OK_PLATFORM);
    EXPECT_EQ(context->SetHostName(std::string(256, 'h').c_str()), VQ_E_PLATFORM);
    const char* name = nullptr;
    context->GetHostName(&name);
    EXPECT_EQ(std::string(name), std::string(255, 'h'));
    EXPECT_EQ(context->SetHostName(nullptr), VQ_E_PLATFORM);
    EXPECT_EQ(context->MarkAddressFailed(), VQ_E_PLATFORM); // no address yet
    EXPECT_EQ(context->GetTopLayer(), nullptr);
    void* out = nullptr;
    EXPECT_EQ(context->QueryInterface(IID_nwIQoSNetStack, &out), VQ_E_NOINTERFACE);
}

TEST_F(ContextTest, UnconsumedBytesComeBackInFrontOfNewerOnes)
{
    OpenWithLayer(0);
    ConnectAndAccept();
    layer->consume = 10;
    const std::string first = "0123456789abcdefghijklmno"; // 25 bytes
    ASSERT_EQ(send(peer, first.data(), first.size(), 0), 25);
    ASSERT_TRUE(PumpUntil([&] { return layer->deliveries.size() == 1; }));
    EXPECT_EQ(layer->deliveries[0], first);
    layer->consume = -1;
    ASSERT_EQ(send(peer, "XYZ", 3, 0), 3);
    ASSERT_TRUE(PumpUntil([&] { return layer->deliveries.size() == 2; }));
    EXPECT_EQ(layer->deliveries[1], "abcdefghijklmnoXYZ");
}

TEST_F(ContextTest, AReceiveRoundHandsTheFirstBytesOverBeforeTheRestIsRead)
{
    // A size probe wants the header, not the megabytes the server already
    // pushed behind it: with a round of one read, the layer sees the first
    // kilobyte alone, and the rest still arrives, round after round.
    OpenWithLayer(0);
    const int32_t round = 1024;
    ASSERT_EQ(context->SetParam(QOS_PARAM_RECEIVE_ROUND, &round), VQ_OK_PLATFORM);
    const int32_t negative = -1;
    EXPECT_EQ(context->SetParam(QOS_PARAM_RECEIVE_ROUND, &negative), VQ_E_PLATFORM);
    ConnectAndAccept();
    std::string sent(3u << 20, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 + i / 4096);
    std::thread writer([&] {
        for (size_t at = 0; at < sent.size();) {
            const ssize_t n = send(peer, sent.data() + at, sent.size() - at, 0);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
    });
    size_t received = 0;
    const bool all = PumpUntil([&] {
        received = 0;
        for (const std::string& piece : layer->deliveries) received += piece.size();
        return received >= sent.size();
    });
    writer.join();
    ASSERT_TRUE(all) << received;
    std::string joined;
    size_t largest = 0;
    for (const std::string& piece : layer->deliveries) {
        joined += piece;
        largest = std::max(largest, piece.size());
    }
    EXPECT_TRUE(joined == sent);
    EXPECT_LE(layer->deliveries.front().size(), 1024u);
    EXPECT_LE(largest, 2048u); // one round: a full read, or short reads adding up to it
    // Moved to a budgeted action, the round stays.
    ASSERT_EQ(context->SetAction(6), VQ_OK_PLATFORM);
    const int32_t budget = 1 << 20;
    ASSERT_EQ(context->SetActionLimit(cpQOS_LIMIT_RECEIVE, &budget), VQ_OK_PLATFORM);
    const size_t before = layer->deliveries.size();
    const std::string more(64 * 1024, 'm');
    ASSERT_EQ(send(peer, more.data(), more.size(), 0), static_cast<ssize_t>(more.size()));
    ASSERT_TRUE(PumpUntil([&] {
        size_t got = 0;
        for (size_t i = before; i < layer->deliveries.size(); ++i) got += layer->deliveries[i].size();
        return got >= more.size();
    }));
    for (size_t i = before; i < layer->deliveries.size(); ++i) EXPECT_LE(layer->deliveries[i].size(), 2048u);
}

TEST_F(ContextTest, LayersSendAndThePeerCloses)
{
    OpenWithLayer(0);
    const std::string early = "queued before the connection";
    ASSERT_EQ(context->Send(vqBUFFER{early.data(), static_cast<uint32_t>(early.size())}), VQ_OK_PLATFORM);
    ConnectAndAccept();
    const std::string later = " and after";
    layer->SendToLower(vqBUFFER{later.data(), static_cast<uint32_t>(later.size())});
    EXPECT_EQ(PeerRead(early.size() + later.size()), early + later);
    close(peer);
    peer = -1;
    ASSERT_TRUE(PumpUntil([&] { return State() == QOS_CLOSED; }));
    EXPECT_EQ(layer->events, (std::vector<std::string>{"connected", "closed"}));
    // After the close: sends are dropped, late deferred events ignored.
    EXPECT_EQ(context->Send(vqBUFFER{"x", 1}), VQ_OK_PLATFORM);
    uint32_t pending = 7;
    context->GetPendingSendBytes(&pending);
    EXPECT_EQ(pending, 0u);
    context->PostClose();
    EXPECT_EQ(context->Close(), VQ_OK_PLATFORM);
    EXPECT_EQ(layer->events.size(), 2u);
}

TEST_F(ContextTest, ConnectThatNeverCompletesTimesOut)
{
    // The listener's queue is full: a further connect is never answered.
    int filler = socket(AF_INET, SOCK_STREAM, 0);
    extra.push_back(filler);
    sockaddr_in address{AF_INET, htons(target.port), {target.ip}, {}};
    ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    int second = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    extra.push_back(second);
    connect(second, reinterpret_cast<sockaddr*>(&address), sizeof address);
    OpenWithLayer(QOS_EVENT_CONNECT_TIMEOUT);
    ASSERT_EQ(context->Connect(target), VQ_OK_PLATFORM);
    EXPECT_EQ(State(), QOS_CONNECTING);
    g_nowMs += 4900;
    cpCTimerManager::Get()->Tick();
    Drain();
    EXPECT_TRUE(layer->events.empty());
    g_nowMs += 200;
    cpCTimerManager::Get()->Tick();
    ASSERT_TRUE(PumpUntil([&] { return State() == QOS_CLOSED; }));
    EXPECT_EQ(layer->events, (std::vector<std::string>{"timeout", "closed"}));
}

TEST_F(ContextTest, IdleEventComesOnceUntilDataArrives)
{
    OpenWithLayer(QOS_EVENT_IDLE);
    const int32_t limit = 3;
    context->SetParam(QOS_PARAM_IDLE_LIMIT, &limit);
    ConnectAndAccept();
    auto* owner = static_cast<cpCQoSContext*>(context);
    auto tick = [&] {
        uint32_t received = 0, sent = 0;
        owner->OnSchedulerTick(received, sent);
    };
    for (int i = 0; i < 3; ++i) tick();
    Drain();
    EXPECT_EQ(layer->events.size(), 1u);
    for (int i = 0; i < 5; ++i) tick(); // the 4th tick queues it, once
    ASSERT_TRUE(PumpUntil([&] { return layer->events.size() == 2; }));
    EXPECT_EQ(layer->events[1], "idle");
    ASSERT_EQ(send(peer, "x", 1, 0), 1);
    ASSERT_TRUE(PumpUntil([&] { return layer->deliveries.size() == 1; }));
    for (int i = 0; i < 4; ++i) tick();
    ASSERT_TRUE(PumpUntil([&] { return layer->events.size() == 3; }));
    EXPECT_EQ(layer->events[2], "idle");
    EXPECT_EQ(State(), QOS_QUIET); // the connection stays open
}

TEST_F(ContextTest, ABudgetedConnectionKeepsSendingWhileItsReceiveBudgetRunsOutEachSecond)
{
    // Both directions run out of budget within every second; each tick must
    // let both continue, not only the receiving side.
    constexpr int32_t kPerSecond = 2048;
    constexpr size_t kBytes = 3 * kPerSecond;
    OpenWithLayer(0);
    ASSERT_EQ(context->SetAction(cpQOS_OWN), VQ_OK_PLATFORM);
    context->SetActionLimit(cpQOS_LIMIT_RECEIVE, &kPerSecond);
    context->SetActionLimit(cpQOS_LIMIT_SEND, &kPerSecond);
    ConnectAndAccept();
    const std::string inbound(kBytes, 'i');
    const std::string outbound(kBytes, 'o');
    ASSERT_EQ(send(peer, inbound.data(), inbound.size(), 0), static_cast<ssize_t>(kBytes));
    layer->SendToLower(vqBUFFER{outbound.data(), static_cast<uint32_t>(outbound.size())});
    size_t atPeer = 0;
    auto delivered = [&] {
        size_t total = 0;
        for (const std::string& piece : layer->deliveries) total += piece.size();
        return total;
    };
    auto peerReads = [&] {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) atPeer += static_cast<size_t>(n);
        return atPeer;
    };
    auto* owner = static_cast<cpCQoSContext*>(context);
    for (size_t second = 1; second <= 3; ++second) {
        const size_t expected = second * kPerSecond;
        ASSERT_TRUE(PumpUntil([&] { return delivered() == expected && peerReads() == expected; }))
            << "second " << second << ": received " << delivered() << ", sent " << atPeer;
        uint32_t received = 0, sent = 0;
        owner->OnSchedulerTick(received, sent);
        EXPECT_EQ(received, static_cast<uint32_t>(kPerSecond));
        EXPECT_EQ(sent, static_cast<uint32_t>(kPerSecond));
    }
}
