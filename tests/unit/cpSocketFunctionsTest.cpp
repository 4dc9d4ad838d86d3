#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/cpCSocket.h"
#include "netlib/runtime/cpResolver.h"
#include "netlib/runtime/cpSocketFunctions.h"
#include "platform/Sockets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr uint32_t kLoopback = 0x0100007F; // 127.0.0.1 in network order

// A blocking listener on 127.0.0.1 and an ephemeral port.
struct Listener {
    cpSocketRecord* record = nullptr;
    cpADDRESS address{};
    Listener()
    {
        cpSocketCreate(record, cpSOCKET_STREAM);
        cpSocketBind(record, cpADDRESS{kLoopback, 0});
        cpSocketListen(record);
        SOCKADDR_V4 local{};
        SockGetLocalAddress(record->socket, &local);
        address = cpADDRESS{local.ip, local.port};
    }
    ~Listener() { cpSocketClose(record); }
};

// A connected pair of blocking stream records.
struct Pair {
    Listener listener;
    cpSocketRecord* client = nullptr;
    cpSocketRecord* server = nullptr;
    cpADDRESS peer{};
    Pair()
    {
        cpSocketCreate(client, cpSOCKET_STREAM);
        connected = cpSocketConnect(client, listener.address) == VQ_OK_PLATFORM &&
                    cpSocketAccept(listener.record, &peer, server) == VQ_OK_PLATFORM;
    }
    ~Pair()
    {
        if (client) cpSocketClose(client);
        if (server) cpSocketClose(server);
    }
    bool connected = false;
};

bool ScriptedResolver(const char* name, std::vector<uint32_t>* addresses)
{
    if (std::strcmp(name, "two.example") != 0) return false;
    *addresses = {0x0A000002, 0x0A000001};
    return true;
}

} // namespace

TEST(SocketFunctions, ErrorNumbersMapOntoResultCodes)
{
    struct Case {
        int error;
        vqRESULT code;
    };
    const Case cases[] = {
        {WSAEWOULDBLOCK, 0x8022000A}, {WSAEINPROGRESS, 0x80220009}, {WSAEALREADY, 0x80220006},
        {WSAENOTSOCK, 0x80220004},    {WSAENOBUFS, 0x80220008},     {WSAECONNREFUSED, 0x80220005},
        {WSAETIMEDOUT, 0x80200000},   {WSAECONNRESET, 0x80200000},  {0, 0x80200000},
    };
    for (const Case& c : cases) EXPECT_EQ(cpMapSocketError(c.error), c.code) << c.error;
}

TEST(SocketFunctions, CreateOnARecordThatHoldsASocketChangesNothing)
{
    cpSocketRecord* record = nullptr;
    ASSERT_EQ(cpSocketCreate(record, cpSOCKET_STREAM), VQ_OK_PLATFORM);
    const SOCKET socket = record->socket;
    cpSocketRecord* same = record;
    EXPECT_EQ(cpSocketCreate(record, cpSOCKET_DATAGRAM), 0x80220007u);
    EXPECT_EQ(record, same);
    EXPECT_EQ(record->socket, socket);
    EXPECT_EQ(record->type, cpSOCKET_STREAM);
    EXPECT_EQ(record->slot, -1);
    EXPECT_EQ(cpSocketClose(record), VQ_OK_PLATFORM);
}

TEST(SocketFunctions, MissingRecordsAndSocketsAreRefused)
{
    cpSocketRecord empty;
    char buffer[4];
    int32_t count = 0;
    cpADDRESS from{};
    EXPECT_EQ(cpSocketSendTo(nullptr, "x", 1, cpADDRESS{kLoopback, 9}, &count), 0x80210002u);
    EXPECT_EQ(cpSocketReceiveFrom(nullptr, buffer, 4, &from, &count), 0x80210002u);
    EXPECT_EQ(cpSocketSendTo(&empty, "x", 1, cpADDRESS{kLoopback, 9}, &count), 0x80220004u);
    EXPECT_EQ(cpSocketReceiveFrom(&empty, buffer, 4, &from, &count), 0x80220004u);
    EXPECT_EQ(cpSocketReceive(&empty, buffer, 4, &count), 0x80220004u);
    cpSocketRecord* none = nullptr;
    EXPECT_EQ(cpSocketCreate(none, 7), 0x80200000u);
    EXPECT_EQ(none, nullptr);
    int32_t slot = 99;
    EXPECT_EQ(cpSocketCreate(none, cpSOCKET_STREAM), VQ_OK_PLATFORM);
    EXPECT_EQ(cpSocketUnselect(nullptr, none, &slot), 0x80200000u); // never selected
    EXPECT_EQ(slot, 99);
    cpSocketClose(none);
}

TEST(SocketFunctions, ReceivingTheOrderlyCloseReportsFailure)
{
    Pair pair;
    ASSERT_TRUE(pair.connected);
    ASSERT_EQ(cpSocketSend(pair.server, "hi", 2, nullptr), VQ_OK_PLATFORM);
    char buffer[8];
    int32_t received = -5;
    ASSERT_EQ(cpSocketReceive(pair.client, buffer, sizeof buffer, &received), VQ_OK_PLATFORM);
    EXPECT_EQ(received, 2);
    // The server side closes without a reset once its linger is turned off.
    SockSetLinger(pair.server->socket, false, 0);
    cpSocketClose(pair.server);
    pair.server = nullptr;
    EXPECT_EQ(cpSocketReceive(pair.client, buffer, sizeof buffer, &received), 0x80200000u);
    EXPECT_EQ(received, 0);
}

TEST(SocketFunctions, StreamSocketsCloseWithAReset)
{
    Pair pair;
    ASSERT_TRUE(pair.connected);
    cpSocketClose(pair.client);
    pair.client = nullptr;
    char buffer[4];
    int32_t received = 0;
    EXPECT_EQ(cpSocketReceive(pair.server, buffer, sizeof buffer, &received), 0x80200000u);
    EXPECT_EQ(received, -1);
    EXPECT_EQ(SockLastError(), WSAECONNRESET);
}

TEST(SocketFunctions, AcceptReportsThePeerWithItsPortInHostOrder)
{
    Pair pair;
    ASSERT_TRUE(pair.connected);
    SOCKADDR_V4 clientLocal{};
    ASSERT_TRUE(SockGetLocalAddress(pair.client->socket, &clientLocal));
    EXPECT_EQ(pair.peer.ip, kLoopback);
    EXPECT_EQ(pair.peer.port, clientLocal.port);
    EXPECT_EQ(pair.server->type, cpSOCKET_STREAM);
}

TEST(SocketFunctions, DatagramsCarryTheSenderAddress)
{
    cpSocketRecord* receiver = nullptr;
    cpSocketRecord* sender = nullptr;
    ASSERT_EQ(cpSocketCreate(receiver, cpSOCKET_DATAGRAM), VQ_OK_PLATFORM);
    ASSERT_EQ(cpSocketCreate(sender, cpSOCKET_DATAGRAM), VQ_OK_PLATFORM);
    ASSERT_EQ(cpSocketBind(receiver, cpADDRESS{kLoopback, 0}), VQ_OK_PLATFORM);
    ASSERT_EQ(cpSocketBind(sender, cpADDRESS{kLoopback, 0}), VQ_OK_PLATFORM);
    EXPECT_EQ(cpSocketSetOption(sender, 0), VQ_OK_PLATFORM);
    EXPECT_EQ(cpSocketSetOption(sender, 1), 0x80200000u);
    SOCKADDR_V4 to{}, from{};
    SockGetLocalAddress(receiver->socket, &to);
    SockGetLocalAddress(sender->socket, &from);
    int32_t sent = 0;
    ASSERT_EQ(cpSocketSendTo(sender, "ping", 4, cpADDRESS{to.ip, to.port}, &sent), VQ_OK_PLATFORM);
    EXPECT_EQ(sent, 4);
    char buffer[16];
    int32_t received = 0;
    cpADDRESS origin{};
    ASSERT_EQ(cpSocketReceiveFrom(receiver, buffer, sizeof buffer, &origin, &received), VQ_OK_PLATFORM);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    EXPECT_EQ(origin.ip, kLoopback);
    EXPECT_EQ(origin.port, from.port);
    cpSocketClose(receiver);
    cpSocketClose(sender);
}

TEST(SocketFunctions, ANonBlockingConnectWouldBlock)
{
    Listener listener;
    cpSocketRecord* client = nullptr;
    ASSERT_EQ(cpSocketCreate(client, cpSOCKET_STREAM), VQ_OK_PLATFORM);
    ASSERT_EQ(cpSocketSetBlocking(client, 0), VQ_OK_PLATFORM);
    EXPECT_EQ(client->nonBlockingArgument, 1u);
    EXPECT_EQ(cpSocketConnect(client, listener.address), 0x8022000Au);
    EXPECT_EQ(client->address.port, listener.address.port);
    cpSocketClose(client);
}

TEST(SocketObject, ForwardsToTheSocketFunctionsAndOwnsItsRecord)
{
    Listener listener;
    vqSmartPtr object;
    ASSERT_TRUE(object.CreateInstance(CLSID_cpCSocket));
    auto* socket = object.As<cpCSocket>();
    EXPECT_EQ(socket->Send("x", 1, nullptr), 0x80210002u); // no record before Create
    ASSERT_EQ(socket->Create(cpSOCKET_STREAM), VQ_OK_PLATFORM);
    ASSERT_EQ(socket->Connect(listener.address), VQ_OK_PLATFORM);
    cpSocketRecord* accepted = nullptr;
    ASSERT_EQ(cpSocketAccept(listener.record, nullptr, accepted), VQ_OK_PLATFORM);
    int32_t sent = 0;
    EXPECT_EQ(socket->Send("hello", 5, &sent), VQ_OK_PLATFORM);
    EXPECT_EQ(sent, 5);
    char buffer[8];
    int32_t received = 0;
    EXPECT_EQ(cpSocketReceive(accepted, buffer, sizeof buffer, &received), VQ_OK_PLATFORM);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(received)), "hello");
    EXPECT_EQ(socket->Shutdown(), VQ_OK_PLATFORM);
    EXPECT_EQ(socket->Close(), VQ_OK_PLATFORM);
    EXPECT_EQ(socket->Record(), nullptr);
    cpSocketClose(accepted);
}

TEST(Resolver, AnswersEveryAddressInTheResolverOrder)
{
    cpSetResolverForTesting(&ScriptedResolver);
    std::vector<uint32_t> all;
    EXPECT_EQ(cpResolveHostAll("two.example", &all), VQ_OK_PLATFORM);
    EXPECT_EQ(all, (std::vector<uint32_t>{0x0A000002, 0x0A000001}));
    uint32_t first = 0;
    EXPECT_EQ(cpResolveHost("two.example", &first), VQ_OK_PLATFORM);
    EXPECT_EQ(first, 0x0A000002u);
    EXPECT_EQ(cpResolveHost("none.example", &first), 0x80200000u);
    EXPECT_EQ(cpResolveHostAll("", &all), 0x80200000u);
    EXPECT_EQ(cpResolveHost(nullptr, &first), 0x80200000u);
    cpSetResolverForTesting(nullptr);
}

TEST(Resolver, TheSystemResolverReadsDottedAddresses)
{
    uint32_t ip = 0;
    EXPECT_EQ(cpResolveHost("127.0.0.1", &ip), VQ_OK_PLATFORM);
    EXPECT_EQ(ip, kLoopback);
}
