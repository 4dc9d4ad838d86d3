// The TLS client layer on real ciphertext: a mock connection context below
// it carries bytes to and from an OpenSSL server in memory (TlsTestPeer.h),
// and records what the layer delivers up, as the HTTP client layer above
// would see it.

#include "MockQoSContext.h"
#include "TlsTestPeer.h"
#include "netlib/Lib_SSL/COpenSSL.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqLog.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/nwIQoSNetStack.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using testing::_;
using testing::Return;

namespace {

std::vector<std::string> g_log;
void CollectLog(const char* line)
{
    g_log.emplace_back(line);
}

const std::string kRequest = "GET /filelist.txt HTTP/1.1\r\nHost: secure.test\r\n\r\n";

// The TLS layer at the bottom of a mock context.
class Rig {
public:
    explicit Rig(const char* host = "secure.test") : m_host(host)
    {
        context = new testing::NiceMock<MockQoSContext>();
        contextRef.Assign(context);
        EXPECT_TRUE(layerRef.CreateInstance(CLSID_nwCSecureSocketClientLayer));
        void* face = nullptr;
        EXPECT_TRUE(layerRef.QueryInterface(IID_nwIQoSNetStack, &face));
        stack = static_cast<nwIQoSNetStack*>(face);
        stack->SetContext(context);
        ON_CALL(*context, SendFromLayer(stack, _)).WillByDefault([this](nwIQoSNetStack*, const vqBUFFER& buffer) {
            EXPECT_FALSE(closed) << "ciphertext sent after the close";
            toServer.append(static_cast<const char*>(buffer.data), buffer.length);
            ++sends;
            if (onSend) onSend();
            return VQ_OK_PLATFORM;
        });
        ON_CALL(*context, GetHostName(_)).WillByDefault([this](const char** name) {
            *name = m_host;
            return VQ_OK_PLATFORM;
        });
        ON_CALL(*context, DeliverUp(stack, _, _))
            .WillByDefault([this](nwIQoSNetStack*, const unsigned char* bytes, uint32_t length) {
                const std::string offered(reinterpret_cast<const char*>(bytes), length);
                offers.push_back(offered);
                const int32_t consumed = consume ? consume(offered) : static_cast<int32_t>(length);
                if (consumed > 0) upper.append(offered, 0, static_cast<size_t>(consumed));
                return consumed;
            });
        ON_CALL(*context, Close()).WillByDefault([this] {
            if (!closed) {
                closed = true;
                stack->OnClose();
            }
            return VQ_OK_PLATFORM;
        });
    }

    // What the context does with received bytes.
    void Deliver(const std::string& bytes)
    {
        if (closed) return;
        inbox += bytes;
        const int32_t consumed =
            stack->OnReceive(reinterpret_cast<const unsigned char*>(inbox.data()), static_cast<uint32_t>(inbox.size()));
        if (consumed < 0) {
            context->Close();
            return;
        }
        ASSERT_LE(static_cast<size_t>(consumed), inbox.size());
        inbox.erase(0, static_cast<size_t>(consumed));
    }
    void SendDown(const std::string& plaintext) { stack->SendDown(vqBUFFER{plaintext.data(), static_cast<uint32_t>(plaintext.size())}); }
    std::string TakeToServer()
    {
        std::string bytes;
        bytes.swap(toServer);
        return bytes;
    }
    // Runs both ends until neither has anything more to say.
    void Exchange(tlstest::MemoryServer& server)
    {
        for (int round = 0; round < 10 && !closed; ++round) {
            server.FromClient(TakeToServer());
            const std::string answer = server.Pump();
            if (answer.empty()) return;
            Deliver(answer);
        }
    }

    testing::NiceMock<MockQoSContext>* context;
    vqSmartPtr contextRef;
    vqSmartPtr layerRef;
    nwIQoSNetStack* stack;
    std::string toServer;
    int sends = 0;
    std::string inbox;
    std::string upper;
    std::vector<std::string> offers;
    bool closed = false;
    std::function<int32_t(const std::string& offered)> consume;
    std::function<void()> onSend;

private:
    const char* m_host;
};

class SecureSocketLayer : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(COpenSSL::Startup(), VQ_OK_PLATFORM);
        ASSERT_EQ(COpenSSL::AddCertificate("zdr test CA", tlstest::Pem(tlstest::Certificates::Get().authority.certificate).c_str()),
                  VQ_OK_PLATFORM);
        g_log.clear();
        vqSetLogSink(&CollectLog);
    }
    void TearDown() override
    {
        vqSetLogSink(nullptr);
        COpenSSL::Cleanup();
    }
    const tlstest::KeyAndCertificate& ServerIdentity() { return tlstest::Certificates::Get().server; }
};

} // namespace

TEST_F(SecureSocketLayer, HandshakeSplitAtEveryOffsetThenTheQueuedRequestGoesOutEncrypted)
{
    size_t flightSize = 1;
    for (size_t offset = 0; offset <= flightSize; ++offset) {
        SCOPED_TRACE("split at " + std::to_string(offset));
        Rig rig;
        tlstest::MemoryServer server(ServerIdentity());
        // Written right after Connect, before the TCP connection exists.
        rig.SendDown(kRequest);
        EXPECT_EQ(rig.toServer, "");
        ASSERT_TRUE(rig.stack->OnConnected());
        ASSERT_FALSE(rig.toServer.empty()) << "the ClientHello leaves inside OnConnected";
        EXPECT_EQ(rig.toServer.find("GET"), std::string::npos);
        server.FromClient(rig.TakeToServer());
        const std::string flight = server.Pump();
        // The flight's length varies by a byte or two with the signature.
        flightSize = flight.size();
        ASSERT_GT(flightSize, 100u);
        const size_t cut = offset < flight.size() ? offset : flight.size();
        rig.Deliver(flight.substr(0, cut));
        EXPECT_EQ(server.received, "");
        rig.Deliver(flight.substr(cut));
        EXPECT_EQ(rig.toServer.find("GET"), std::string::npos) << "the request travels encrypted";
        rig.Exchange(server);
        ASSERT_TRUE(server.HandshakeDone());
        EXPECT_EQ(server.received, kRequest);
        EXPECT_EQ(server.serverName, "secure.test");
        rig.Deliver(server.Send("HTTP/1.1 200 OK\r\n\r\n"));
        EXPECT_EQ(rig.upper, "HTTP/1.1 200 OK\r\n\r\n");
        EXPECT_FALSE(rig.closed);
        if (HasFailure()) break;
    }
    EXPECT_TRUE(g_log.empty());
}

TEST_F(SecureSocketLayer, ByteByByteOverTls12AndTls13)
{
    for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        SCOPED_TRACE(version);
        Rig rig;
        tlstest::MemoryServer server(ServerIdentity(), version);
        ASSERT_TRUE(rig.stack->OnConnected());
        for (int round = 0; round < 10 && !server.HandshakeDone(); ++round) {
            server.FromClient(rig.TakeToServer());
            for (char byte : server.Pump()) rig.Deliver(std::string(1, byte));
        }
        rig.SendDown(kRequest);
        server.FromClient(rig.TakeToServer());
        server.Pump();
        EXPECT_EQ(server.received, kRequest);
        const std::string body(40000, 'z'); // three records
        for (char byte : server.Send(body)) rig.Deliver(std::string(1, byte));
        EXPECT_EQ(rig.upper, body);
        EXPECT_FALSE(rig.closed);
    }
}

TEST_F(SecureSocketLayer, TheEndOfTheHandshakeAndTheFirstRecordInOneBlock)
{
    Rig rig;
    tlstest::MemoryServer server(ServerIdentity(), TLS1_2_VERSION);
    rig.SendDown(kRequest);
    ASSERT_TRUE(rig.stack->OnConnected());
    server.FromClient(rig.TakeToServer());
    rig.Deliver(server.Pump());
    server.FromClient(rig.TakeToServer());
    // The server's Finished and its first record arrive together.
    std::string last = server.Pump();
    ASSERT_TRUE(server.HandshakeDone());
    last += server.Send("first record");
    EXPECT_EQ(rig.toServer, "") << "the request waits for the server's Finished";
    rig.Deliver(last);
    EXPECT_EQ(rig.upper, "first record");
    EXPECT_EQ(rig.inbox, "");
    server.FromClient(rig.TakeToServer());
    server.Pump();
    EXPECT_EQ(server.received, kRequest);
}

TEST_F(SecureSocketLayer, WhatTheUpperLayerLeavesComesFirstWithTheNextRecord)
{
    Rig rig;
    tlstest::MemoryServer server(ServerIdentity());
    ASSERT_TRUE(rig.stack->OnConnected());
    rig.Exchange(server);
    ASSERT_TRUE(server.HandshakeDone());
    rig.consume = [](const std::string& offered) { return offered == "head" ? 0 : static_cast<int32_t>(offered.size()); };
    rig.Deliver(server.Send("head"));
    EXPECT_EQ(rig.upper, "");
    rig.Deliver(server.Send("tail"));
    ASSERT_EQ(rig.offers.size(), 2u);
    EXPECT_EQ(rig.offers[1], "headtail");
    EXPECT_EQ(rig.upper, "headtail");
    // A part consumed: the rest is kept in front of the next bytes.
    rig.consume = [](const std::string& offered) { return offered.size() >= 4 ? 2 : 0; };
    rig.Deliver(server.Send("abcd"));
    rig.consume = nullptr;
    rig.Deliver(server.Send("ef"));
    EXPECT_EQ(rig.offers.back(), "cdef");
    EXPECT_EQ(rig.upper, "headtailabcdef");
}

TEST_F(SecureSocketLayer, ACloseFromInsideANestedCallFreesTheConnectionAfterTheOutermostCall)
{
    struct Case {
        const char* name;
        // Sets the close up on the rig once the handshake flight is ready.
        std::function<void(Rig&)> arm;
    };
    const std::vector<Case> cases = {
        // The client's Finished goes down inside the feed that completes the
        // handshake; its send closes the context.
        {"close while sending the Finished", [](Rig& rig) { rig.onSend = [&rig] { rig.context->Close(); }; }},
        // The queued request is written from inside the handshake's end.
        {"close while writing the queued request",
         [](Rig& rig) {
             rig.onSend = [&rig] {
                 if (rig.sends >= 2) rig.context->Close();
             };
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        tlstest::MemoryServer server(ServerIdentity());
        rig.SendDown(kRequest);
        rig.SendDown(kRequest);
        ASSERT_TRUE(rig.stack->OnConnected());
        server.FromClient(rig.TakeToServer());
        const std::string flight = server.Pump();
        rig.sends = 0;
        c.arm(rig);
        rig.Deliver(flight);
        EXPECT_TRUE(rig.closed);
        // Anything more from the network finds no connection.
        EXPECT_EQ(rig.stack->OnReceive(reinterpret_cast<const unsigned char*>("x"), 1), 0);
    }
    // The upper layer closes the connection from inside its delivery, with a
    // second record waiting in the same block.
    Rig rig;
    tlstest::MemoryServer server(ServerIdentity());
    ASSERT_TRUE(rig.stack->OnConnected());
    rig.Exchange(server);
    rig.consume = [&rig](const std::string& offered) {
        rig.context->Close();
        return static_cast<int32_t>(offered.size());
    };
    std::string records = server.Send("one");
    records += server.Send("two");
    rig.Deliver(records);
    EXPECT_TRUE(rig.closed);
    EXPECT_EQ(rig.upper, "one");
    EXPECT_TRUE(g_log.empty());
}

TEST_F(SecureSocketLayer, ACertificateThatDoesNotVerifyClosesWithOneLogLineAndNothingGoesUp)
{
    const tlstest::Certificates& certificates = tlstest::Certificates::Get();
    struct Case {
        const char* name;
        const tlstest::KeyAndCertificate* identity;
        const char* host;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"another host's certificate", &certificates.otherHost, "secure.test", "hostname mismatch"},
        {"expired", &certificates.expired, "secure.test", "certificate has expired"},
        {"self-signed, not trusted", &certificates.selfSigned, "secure.test", "self-signed certificate"},
        {"address certificate for a name", &certificates.address, "secure.test", "hostname mismatch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_log.clear();
        Rig rig(c.host);
        tlstest::MemoryServer server(*c.identity);
        rig.SendDown(kRequest);
        ASSERT_TRUE(rig.stack->OnConnected());
        rig.Exchange(server);
        EXPECT_TRUE(rig.closed);
        EXPECT_EQ(server.received, "") << "the request never leaves";
        EXPECT_EQ(rig.upper, "");
        ASSERT_EQ(g_log.size(), 1u);
        EXPECT_NE(g_log[0].find("secure.test"), std::string::npos) << g_log[0];
        EXPECT_NE(g_log[0].find("verify result"), std::string::npos) << g_log[0];
        EXPECT_NE(g_log[0].find(c.reason), std::string::npos) << g_log[0];
    }
}

TEST_F(SecureSocketLayer, AnAddressIsCheckedAgainstTheCertificateAndSentAsNoServerName)
{
    Rig rig("127.0.0.1");
    tlstest::MemoryServer server(tlstest::Certificates::Get().address);
    rig.SendDown(kRequest);
    ASSERT_TRUE(rig.stack->OnConnected());
    rig.Exchange(server);
    EXPECT_FALSE(rig.closed);
    EXPECT_EQ(server.received, kRequest);
    EXPECT_EQ(server.serverName, "(none)");
}

TEST_F(SecureSocketLayer, CloseNotifyAfterTheBodyEndsTheConnectionQuietly)
{
    Rig rig;
    tlstest::MemoryServer server(ServerIdentity());
    ASSERT_TRUE(rig.stack->OnConnected());
    rig.Exchange(server);
    std::string records = server.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
    records += server.CloseNotify();
    rig.Deliver(records);
    EXPECT_EQ(rig.upper, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
    EXPECT_TRUE(rig.closed);
    EXPECT_TRUE(g_log.empty());
}

TEST_F(SecureSocketLayer, GarbageFromThePeerClosesWithALogLine)
{
    Rig rig;
    ASSERT_TRUE(rig.stack->OnConnected());
    rig.Deliver("HTTP/1.1 400 Bad Request\r\n\r\n");
    EXPECT_TRUE(rig.closed);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_NE(g_log[0].find("TLS with secure.test failed"), std::string::npos) << g_log[0];
}

TEST_F(SecureSocketLayer, SendDrainedStaysBelowWhileTheRequestWaitsForTheHandshake)
{
    Rig rig;
    tlstest::MemoryServer server(ServerIdentity());
    rig.SendDown(kRequest);
    ASSERT_TRUE(rig.stack->OnConnected());
    // The ClientHello has drained; the request is still held.
    EXPECT_FALSE(rig.stack->OnEvent(2, 0));
    rig.Exchange(server);
    EXPECT_EQ(server.received, kRequest);
    EXPECT_TRUE(rig.stack->OnEvent(2, 0));
}

TEST_F(SecureSocketLayer, NoHostNoConnection)
{
    Rig rig("");
    // Bytes before the connection has a TLS object close it.
    EXPECT_EQ(rig.stack->OnReceive(reinterpret_cast<const unsigned char*>("x"), 1), -1);
    EXPECT_FALSE(rig.stack->OnConnected());
    EXPECT_TRUE(rig.closed);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_NE(g_log[0].find("could not start"), std::string::npos) << g_log[0];
}

TEST_F(SecureSocketLayer, NamedCertificatesAreFoundByTheirExactName)
{
    EXPECT_NE(COpenSSL::FindCertificate("zdr test CA"), nullptr);
    EXPECT_EQ(COpenSSL::FindCertificate("zdr test"), nullptr);
    EXPECT_EQ(COpenSSL::AddCertificate("broken", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"),
              VQ_E_PLATFORM);
    EXPECT_EQ(COpenSSL::AddCertificate(nullptr, "x"), VQ_E_PLATFORM);
    EXPECT_EQ(COpenSSL::CertificateCount(), 1);
}

TEST_F(SecureSocketLayer, ACertificateNamedAfterTheStoreIsLoadedIsTrustedToo)
{
    tlstest::KeyAndCertificate otherAuthority = tlstest::MakeCertificate("late CA", nullptr, nullptr, true);
    tlstest::KeyAndCertificate late = tlstest::MakeCertificate("late.test", "DNS:late.test", &otherAuthority, false);
    {
        // The first connection loads the store.
        Rig rig;
        tlstest::MemoryServer server(ServerIdentity());
        ASSERT_TRUE(rig.stack->OnConnected());
        rig.Exchange(server);
        EXPECT_TRUE(server.HandshakeDone());
    }
    ASSERT_EQ(COpenSSL::AddCertificate("late CA", tlstest::Pem(otherAuthority.certificate).c_str()), VQ_OK_PLATFORM);
    Rig rig("late.test");
    tlstest::MemoryServer server(late);
    rig.SendDown(kRequest);
    ASSERT_TRUE(rig.stack->OnConnected());
    rig.Exchange(server);
    EXPECT_FALSE(rig.closed);
    EXPECT_EQ(server.received, kRequest);
    tlstest::Free(late);
    tlstest::Free(otherAuthority);
}

TEST_F(SecureSocketLayer, TlsShutdownWhileAConnectionLivesKeepsWhatItNeedsUntilItGoes)
{
    auto rig = std::make_unique<Rig>();
    tlstest::MemoryServer server(ServerIdentity());
    ASSERT_TRUE(rig->stack->OnConnected());
    COpenSSL::Cleanup();
    // The connection still runs on what it holds, and is freed later.
    rig->Exchange(server);
    EXPECT_TRUE(server.HandshakeDone());
    rig->context->Close();
    rig.reset();
    ASSERT_EQ(COpenSSL::Startup(), VQ_OK_PLATFORM);
}
