// The service over HTTPS, as a front end drives it, against a real nginx
// speaking TLS with certificates made at test time: the file list, the size
// check and a 64 MiB ranged transfer arrive byte-identical; a certificate
// that must not be trusted stops everything with one log line and no data.
// Host names *.test resolve to 127.0.0.1 through the injected resolver, so
// several names share nginx's one port and SNI picks the server.

#include "AgentServerProcess.h"
#include "NginxProcess.h"
#include "netlib/runtime/cpResolver.h"
#include "platform/Connectivity.h"
#include "engine/ActivityLog.h"
#include "service/DlApi.h"
#include "ServiceEvents.h"
#include "TestFiles.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool Connected()
{
    return true;
}

bool ResolveTestNames(const char* name, std::vector<uint32_t>* addresses)
{
    const std::string host = name;
    if (host.size() < 5 || host.compare(host.size() - 5, 5, ".test") != 0) return false;
    *addresses = {htonl(INADDR_LOOPBACK)};
    return true;
}

using Events = ServiceEvents;

class HttpsDownload : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("ZDR_NO_ENGINE", "1", 1); // these tests are about the plain path: no engine downloader
        base = std::string(getenv("HOME")) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(base);
        ASSERT_TRUE(nginx.Start(base + "/nginx", {{"portal-a.test", "DNS:portal-a.test"},
                                                  {"portal-b.test", "DNS:portal-b.test"},
                                                  {"wrong.test", "DNS:other.test"},
                                                  {"expired.test", "DNS:expired.test", "expired"},
                                                  {"self.test", "DNS:self.test", "self-signed"}}));
        ASSERT_TRUE(agent.Start(base + "/reports.jsonl"));
        setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(agent.Port())).c_str(), 1);
        // The certificate authority of this test joins the system's.
        setenv("SSL_CERT_FILE", nginx.CaFile().c_str(), 1);
        cpSetResolverForTesting(&ResolveTestNames);
        SetConnectivityCheckForTesting(&Connected);
        ASSERT_EQ(DlInitialize(nullptr, &Events::Callback, &events), DL_OK);
        target = base + "/download/";
    }
    void TearDown() override
    {
        DlFinalize();
        SetConnectivityCheckForTesting(nullptr);
        cpSetResolverForTesting(nullptr);
        unsetenv("SSL_CERT_FILE");
        unsetenv("ZDR_AGENT_HOST");
        nginx.Stop();
        agent.Stop();
    }
    // The body of a fetch, or "(failed)".
    std::string Fetch(const std::string& url)
    {
        if (DlFetchData(url.c_str()) != DL_OK) return "(refused)";
        if (events.WaitForOneOf({DL_EVENT_FETCH_DONE, DL_EVENT_FETCH_FAILED}) != DL_EVENT_FETCH_DONE) return "(failed)";
        long long size = 0;
        DlGetFetchedSize(&size);
        std::string body(static_cast<size_t>(size), '\0');
        DlDataBuffer buffer{body.data(), size};
        DlGetFetchedData(&buffer);
        return body;
    }
    // Runs one job of one file until it completes or gives the file up
    // (a notice); true when it completed.
    bool Transfer(const std::string& url, const std::string& name)
    {
        int job = 0;
        EXPECT_EQ(DlCreateJob(&job, "zdr", "svc-tls"), DL_OK);
        EXPECT_EQ(DlAddJobFile(job, url.c_str(), target.c_str(), name.c_str(), 0xFFFFFFFFu, -1, 1), DL_OK);
        EXPECT_EQ(DlStartJob(job, 1), DL_OK);
        const int end = events.WaitForOneOf({DL_EVENT_JOB_COMPLETE, DL_EVENT_NOTICE});
        DlJobResult result{};
        DlGetJobResult(job, &result);
        DlStopJob(job);
        DlRemoveJob(job);
        return end == DL_EVENT_JOB_COMPLETE && result.valueA == result.fileCount;
    }

    std::string base;
    std::string target;
    NginxProcess nginx;
    AgentServerProcess agent;
    Events events;
};

} // namespace

TEST_F(HttpsDownload, FileListSizeCheckAndA64MiBTransferArriveIntact)
{
    const std::string big = RandomBytes(64u << 20, 7);
    WriteFile(nginx.Root("portal-a.test") + "/client/big.bin", big);
    const std::string list = nginx.Url("portal-a.test", "/client/big.bin") + "\r\n";
    WriteFile(nginx.Root("portal-a.test") + "/filelist.txt", list);

    EXPECT_EQ(Fetch(nginx.Url("portal-a.test", "/filelist.txt")), list);

    ASSERT_EQ(DlAddSizeCheckUrl(nginx.Url("portal-a.test", "/redirect/client/big.bin").c_str()), DL_OK);
    ASSERT_EQ(DlStartSizeCheck(), DL_OK);
    ASSERT_EQ(events.WaitForOneOf({DL_EVENT_SIZE_CHECK_DONE, DL_EVENT_SIZE_CHECK_FAILED}), DL_EVENT_SIZE_CHECK_DONE);
    long long total = 0;
    DlGetSizeCheckTotal(&total);
    EXPECT_EQ(total, static_cast<long long>(big.size()));

    // Half the file is already there: the rest comes with a ranged request.
    WriteFile(target + "big.bin", big.substr(0, 32u << 20));
    ASSERT_TRUE(Transfer(nginx.Url("portal-a.test", "/client/big.bin"), "big.bin"));
    EXPECT_TRUE(ReadFile(target + "big.bin") == big) << "the file differs from the server's";
    EXPECT_EQ(ReadLog().find("TLS"), std::string::npos) << ReadLog();
}

TEST_F(HttpsDownload, TheServerNameReachesNginxAndPicksItsServer)
{
    WriteFile(nginx.Root("portal-a.test") + "/who.txt", "server a");
    WriteFile(nginx.Root("portal-b.test") + "/who.txt", "server b");
    EXPECT_EQ(Fetch(nginx.Url("portal-b.test", "/who.txt")), "server b");
    EXPECT_EQ(Fetch(nginx.Url("portal-a.test", "/who.txt")), "server a");
}

TEST_F(HttpsDownload, AnUntrustedCertificateFailsWithOneLogLineAndNoData)
{
    struct Case {
        const char* host;
        const char* reason;
    };
    const Case cases[] = {
        {"wrong.test", "hostname mismatch"},
        {"expired.test", "certificate has expired"},
        {"self.test", "self-signed certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        WriteFile(nginx.Root(c.host) + "/filelist.txt", "secret list\r\n");
        WriteFile(nginx.Root(c.host) + "/a.bin", "secret data");
        LogReset();
        EXPECT_EQ(Fetch(nginx.Url(c.host, "/filelist.txt")), "(failed)");
        const std::string log = ReadLog();
        const std::string line = std::string("TLS certificate of ") + c.host + " not accepted: verify result";
        EXPECT_NE(log.find(line), std::string::npos) << log;
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;

        const std::string name = std::string(c.host) + ".bin";
        EXPECT_FALSE(Transfer(nginx.Url(c.host, "/a.bin"), name));
        std::error_code error;
        const auto size = std::filesystem::file_size(target + name, error);
        EXPECT_TRUE(error || size == 0) << "data written from an untrusted server";
    }
}
