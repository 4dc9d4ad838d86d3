#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqCRefCounted.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/runtime/cpCQoS.h"
#include "netlib/runtime/cpCTimerManager.h"
#include "platform/MessageLoop.h"
#include "platform/Sockets.h"
#include "unit/MessagePump.h"
#include "unit/RuntimeTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testpump::PumpFor;
using testpump::PumpUntil;

namespace {

constexpr uint32_t kLoopback = 0x0100007F;

// Records every call the manager makes; optionally unregisters itself when
// told the peer closed.
class TestOwner : public vqCRefCounted<cpISocketOwner> {
public:
    explicit TestOwner(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~TestOwner() override
    {
        if (m_destroyed) *m_destroyed = true;
    }

    void OnReadable() override { calls.push_back("readable"); }
    void OnWritable() override { calls.push_back("writable"); }
    void OnConnected() override { calls.push_back("connected"); }
    void OnConnectFailed() override { calls.push_back("refused"); }
    void OnConnectUnreachable() override { calls.push_back("unreachable"); }
    void OnAccept() override { calls.push_back("accept"); }
    vqRESULT Close() override
    {
        calls.push_back("close");
        if (unregisterOnClose && record) {
            cpCQoS::Get()->UnregisterContext(this, record);
            record = nullptr;
        }
        return VQ_OK_PLATFORM;
    }
    void OnDeferredEvent(cpSocketRecord* from) override
    {
        calls.push_back("deferred");
        deferredRecord = from;
    }
    void OnSchedulerTick(uint32_t&, uint32_t&) override { calls.push_back("tick"); }

    bool Saw(const std::string& call) const
    {
        for (const auto& c : calls)
            if (c == call) return true;
        return false;
    }

    std::vector<std::string> calls;
    cpSocketRecord* record = nullptr;
    cpSocketRecord* deferredRecord = nullptr;
    bool unregisterOnClose = false;

private:
    bool* m_destroyed;
};

class SocketManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_lock.CreateInstance(CLSID_cpCMutex);
        ASSERT_EQ(cpCQoS::Create(m_lock.As<cpCMutex>()), VQ_OK_NETWORK);
        m_manager = cpCQoS::Get();
        ASSERT_NE(m_manager->Window(), nullptr);
    }
    void TearDown() override
    {
        for (auto& owner : m_owners)
            if (owner.As<TestOwner>()->record) Unregister(owner.As<TestOwner>());
        cpCQoS::Destroy();
    }

    TestOwner* Register(cpSocketRecord* record = nullptr)
    {
        auto* owner = new TestOwner();
        m_owners.emplace_back(owner);
        owner->record = m_manager->RegisterContext(owner, record);
        return owner;
    }

    void Unregister(TestOwner* owner)
    {
        m_manager->UnregisterContext(owner, owner->record);
        owner->record = nullptr;
    }

    LRESULT Notify(int32_t slot, SOCKET socket, long code, int error)
    {
        MSG msg{m_manager->Window(), cpWM_SOCKET + static_cast<UINT>(slot), static_cast<WPARAM>(socket),
                MakeSelectReply(code, error)};
        return DispatchMessage(&msg);
    }

    vqSmartPtr m_lock;
    cpCQoS* m_manager = nullptr;
    std::vector<vqSmartPtr> m_owners;
};

} // namespace

TEST_F(SocketManager, EachNotificationReachesItsOwnerOperation)
{
    struct Case {
        long code;
        int error;
        const char* call;
    };
    const Case cases[] = {
        {FD_READ, 0, "readable"},         {FD_WRITE, 0, "writable"},
        {FD_CONNECT, 0, "connected"},     {FD_CONNECT, WSAECONNREFUSED, "refused"},
        {FD_CONNECT, WSAEHOSTUNREACH, "unreachable"}, {FD_ACCEPT, 0, "accept"},
        {FD_CLOSE, 0, "close"},           {FD_CLOSE, WSAECONNRESET, "close"},
    };
    TestOwner* owner = Register();
    ASSERT_NE(owner->record, nullptr);
    for (const Case& c : cases) {
        owner->calls.clear();
        Notify(owner->record->slot, owner->record->socket, c.code, c.error);
        EXPECT_EQ(owner->calls, std::vector<std::string>{c.call}) << c.code << "/" << c.error;
    }
}

TEST_F(SocketManager, NotificationsThatReachNoOwner)
{
    TestOwner* owner = Register();
    ASSERT_NE(owner->record, nullptr);
    const int32_t slot = owner->record->slot;
    const SOCKET socket = owner->record->socket;
    struct Case {
        int32_t slot;
        SOCKET socket;
        long code;
        int error;
        const char* what;
    };
    const Case cases[] = {
        {slot + 5, socket, FD_READ, 0, "empty slot"},
        {slot, INVALID_SOCKET, FD_READ, 0, "INVALID_SOCKET"},
        {slot, socket, FD_CONNECT, WSAETIMEDOUT, "connect timed out"},
        {slot, socket, FD_CONNECT, WSAENETUNREACH, "network unreachable"},
        {slot, socket, FD_OOB, 0, "out-of-band"},
        {slot, socket + 100, FD_READ, 0, "another socket"},
    };
    for (const Case& c : cases) {
        Notify(c.slot, c.socket, c.code, c.error);
        EXPECT_TRUE(owner->calls.empty()) << c.what;
    }
}

TEST_F(SocketManager, RegistrationTakesTheNextFreeSlotAfterAnOccupiedOne)
{
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Register()->record->slot, i);
    m_manager->SetNextSlotForTesting(2);
    TestOwner* owner = Register();
    ASSERT_NE(owner->record, nullptr);
    EXPECT_EQ(owner->record->slot, 3);
    EXPECT_EQ(m_manager->NextSlot(), 4);
}

TEST_F(SocketManager, TheSixtyFifthRegistrationFailsAndTheOthersStillWork)
{
    std::vector<TestOwner*> owners;
    for (int i = 0; i < cpSOCKET_SLOTS; ++i) {
        owners.push_back(Register());
        ASSERT_NE(owners.back()->record, nullptr) << i;
    }
    bool destroyed = false;
    auto* extra = new TestOwner(&destroyed);
    extra->AddRef();
    EXPECT_EQ(m_manager->RegisterContext(extra, nullptr), nullptr);
    extra->Release();
    EXPECT_TRUE(destroyed); // the manager kept no reference
    for (TestOwner* owner : owners) {
        Notify(owner->record->slot, owner->record->socket, FD_READ, 0);
        EXPECT_EQ(owner->calls, std::vector<std::string>{"readable"}) << owner->record->slot;
    }
}

TEST_F(SocketManager, ALateNotificationAfterUnregisteringReachesNobody)
{
    TestOwner* owner = Register();
    const int32_t slot = owner->record->slot;
    const SOCKET socket = owner->record->socket;
    Unregister(owner);
    EXPECT_EQ(m_manager->SlotOwner(slot), nullptr);
    Notify(slot, socket, FD_READ, 0);
    EXPECT_TRUE(owner->calls.empty());
}

TEST_F(SocketManager, AnOwnerMayUnregisterAndDieInsideItsOwnCall)
{
    bool destroyed = false;
    auto* owner = new TestOwner(&destroyed);
    owner->unregisterOnClose = true;
    owner->record = m_manager->RegisterContext(owner, nullptr);
    ASSERT_NE(owner->record, nullptr);
    Notify(owner->record->slot, owner->record->socket, FD_CLOSE, 0);
    EXPECT_TRUE(destroyed);
}

TEST_F(SocketManager, DeferredEventsArriveThroughTheMessageLoop)
{
    TestOwner* owner = Register();
    ASSERT_EQ(cpSocketPostDeferred(owner->record), VQ_OK_PLATFORM);
    ASSERT_TRUE(PumpUntil([owner] { return owner->Saw("deferred"); }));
    EXPECT_EQ(owner->deferredRecord, owner->record);
    MSG negativeSlot{m_manager->Window(), cpWM_DEFERRED, static_cast<WPARAM>(-1), 0};
    DispatchMessage(&negativeSlot);
    EXPECT_EQ(owner->calls.size(), 1u);
}

TEST_F(SocketManager, AfterShutdownNothingReachesAnOwner)
{
    TestOwner* owner = Register();
    ASSERT_EQ(owner->RefCount(), 2);
    cpSocketRecord* record = owner->record;
    HWND window = m_manager->Window();
    const int32_t slot = record->slot;
    cpCQoS::Destroy();
    EXPECT_EQ(owner->RefCount(), 1); // the table's reference went with it
    EXPECT_EQ(record->slot, -1);
    EXPECT_EQ(cpCQoS::WindowProc(window, cpWM_SOCKET + static_cast<UINT>(slot), static_cast<WPARAM>(record->socket),
                                 MakeSelectReply(FD_READ, 0)),
              0);
    EXPECT_EQ(cpSocketPostDeferred(record), 0x80200000u); // the window is gone
    PumpFor(50);
    EXPECT_TRUE(owner->calls.empty());
    ASSERT_EQ(cpCQoS::Create(m_lock.As<cpCMutex>()), VQ_OK_NETWORK);
    m_manager = cpCQoS::Get();
    cpSocketClose(record);
    owner->record = nullptr;
}

TEST_F(SocketManager, ALoopbackConnectionRaisesConnectWriteReadAndClose)
{
    cpSocketRecord* listener = nullptr;
    ASSERT_EQ(cpSocketCreate(listener, cpSOCKET_STREAM), VQ_OK_PLATFORM);
    ASSERT_EQ(cpSocketBind(listener, cpADDRESS{kLoopback, 0}), VQ_OK_PLATFORM);
    ASSERT_EQ(cpSocketListen(listener), VQ_OK_PLATFORM);
    SOCKADDR_V4 local{};
    SockGetLocalAddress(listener->socket, &local);

    TestOwner* owner = Register();
    ASSERT_NE(owner->record, nullptr);
    EXPECT_EQ(cpSocketConnect(owner->record, cpADDRESS{local.ip, local.port}), 0x8022000Au);
    cpSocketRecord* server = nullptr;
    ASSERT_EQ(cpSocketAccept(listener, nullptr, server), VQ_OK_PLATFORM);
    ASSERT_TRUE(PumpUntil([owner] { return owner->Saw("writable"); }));
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"connected", "writable"}));

    ASSERT_EQ(cpSocketSend(server, "hello", 5, nullptr), VQ_OK_PLATFORM);
    ASSERT_TRUE(PumpUntil([owner] { return owner->Saw("readable"); }));
    char buffer[16];
    int32_t received = 0;
    ASSERT_EQ(cpSocketReceive(owner->record, buffer, sizeof buffer, &received), VQ_OK_PLATFORM);
    EXPECT_EQ(received, 5);
    SockSetLinger(server->socket, false, 0);
    cpSocketClose(server);
    ASSERT_TRUE(PumpUntil([owner] { return owner->Saw("close"); }));
    EXPECT_EQ(owner->calls.back(), "close");
    cpSocketClose(listener);
}

TEST_F(SocketManager, AConnectToAClosedPortRaisesRefused)
{
    cpSocketRecord* probe = nullptr;
    ASSERT_EQ(cpSocketCreate(probe, cpSOCKET_STREAM), VQ_OK_PLATFORM);
    ASSERT_EQ(cpSocketBind(probe, cpADDRESS{kLoopback, 0}), VQ_OK_PLATFORM);
    SOCKADDR_V4 local{};
    SockGetLocalAddress(probe->socket, &local);
    cpSocketClose(probe);

    TestOwner* owner = Register();
    cpSocketConnect(owner->record, cpADDRESS{local.ip, local.port});
    ASSERT_TRUE(PumpUntil([owner] { return owner->Saw("refused"); }));
    PumpFor(100);
    EXPECT_EQ(owner->calls, std::vector<std::string>{"refused"});
}

TEST(SocketManagerTick, EveryRegisteredOwnerIsTickedOnceASecond)
{
    cpSetClockForTesting(&testrt::TestClock);
    testrt::g_nowMs = testrt::At(5000);
    vqSmartPtr lock;
    lock.CreateInstance(CLSID_cpCMutex);
    ASSERT_EQ(cpCTimerManager::Create(lock.As<cpCMutex>()), VQ_OK_PLATFORM);
    ASSERT_EQ(cpCQoS::Create(lock.As<cpCMutex>()), VQ_OK_NETWORK);
    EXPECT_EQ(cpCTimerManager::Get()->EntryCount(), 1);

    vqSmartPtr first(new TestOwner()), second(new TestOwner());
    auto* a = first.As<TestOwner>();
    auto* b = second.As<TestOwner>();
    a->record = cpCQoS::Get()->RegisterContext(a, nullptr);
    b->record = cpCQoS::Get()->RegisterContext(b, nullptr);
    testrt::g_nowMs = testrt::At(5000, 900);
    cpCTimerManager::Get()->Tick();
    EXPECT_TRUE(a->calls.empty());
    testrt::g_nowMs = testrt::At(5001);
    cpCTimerManager::Get()->Tick();
    EXPECT_EQ(a->calls, std::vector<std::string>{"tick"});
    EXPECT_EQ(b->calls, std::vector<std::string>{"tick"});

    cpCQoS::Get()->UnregisterContext(a, a->record);
    cpCQoS::Get()->UnregisterContext(b, b->record);
    cpCQoS::Destroy();
    EXPECT_EQ(cpCTimerManager::Get()->EntryCount(), 0);
    cpCTimerManager::Destroy();
    cpSetClockForTesting(nullptr);
}
