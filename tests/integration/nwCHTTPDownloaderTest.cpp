// The HTTP downloader on the real runtime (this thread's message loop, real
// sockets) against a real nginx, over HTTP and over HTTPS with a certificate
// authority made at test time, and against a scripted server for a body
// longer than its length.

#include "NginxProcess.h"
#include "ScriptedHttpServer.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/http/nwCHTTPDownloader.h"
#include "netlib/runtime/CVyx.h"
#include "netlib/runtime/cpResolver.h"
#include "platform/MessageLoop.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

bool ResolveTestNames(const char* name, std::vector<uint32_t>* addresses)
{
    in_addr literal{};
    if (inet_pton(AF_INET, name, &literal) == 1) {
        *addresses = {literal.s_addr};
        return true;
    }
    const std::string host = name;
    if (host.size() < 5 || host.compare(host.size() - 5, 5, ".test") != 0) return false;
    *addresses = {htonl(INADDR_LOOPBACK)};
    return true;
}

class Sink : public nwIHTTPDownloadSink {
public:
    void OnDownloaded(int32_t id, int32_t value, const unsigned char* data, int32_t size) override
    {
        reports.push_back("done " + std::to_string(id) + " " + std::to_string(value));
        bodies.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    }
    void OnDownloadFailed(int32_t id, int32_t value) override
    {
        reports.push_back("failed " + std::to_string(id) + " " + std::to_string(value));
        bodies.emplace_back();
    }
    void OnDownloadUnreachable(int32_t id, int32_t value) override
    {
        reports.push_back("unreachable " + std::to_string(id) + " " + std::to_string(value));
        bodies.emplace_back();
    }
    std::vector<std::string> reports;
    std::vector<std::string> bodies;
};

void WriteFile(const std::string& path, const std::string& content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

class HttpDownloaderLive : public testing::Test {
protected:
    void SetUp() override
    {
        base = std::string(getenv("HOME")) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(base);
        cpSetResolverForTesting(&ResolveTestNames);
    }
    void StartRuntime()
    {
        ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
        network = std::make_unique<CVyx>(lock.As<cpCMutex>());
        ASSERT_TRUE(object.CreateInstance(CLSID_nwCHTTPDownloader));
        downloader = object.As<nwCHTTPDownloader>();
        downloader->SetSink(&sink);
    }
    void TearDown() override
    {
        object.Assign(nullptr);
        if (network) network->Shutdown();
        network.reset();
        cpSetResolverForTesting(nullptr);
        unsetenv("SSL_CERT_FILE");
    }
    bool PumpUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            MSG msg;
            if (GetMessageTimeout(&msg, 20)) DispatchMessage(&msg);
        }
        return true;
    }
    bool WaitForReports(size_t count)
    {
        return PumpUntil([&] { return sink.reports.size() >= count; });
    }

    std::string base;
    vqSmartPtr lock;
    std::unique_ptr<CVyx> network;
    vqSmartPtr object;
    nwCHTTPDownloader* downloader = nullptr;
    Sink sink;
};

} // namespace

TEST_F(HttpDownloaderLive, WholeFilesAndARedirectChainOverHttpAndHttps)
{
    NginxProcess plain;
    ASSERT_TRUE(plain.Start(base + "/plain"));
    NginxProcess secure;
    ASSERT_TRUE(secure.Start(base + "/secure", {{"files.test", "DNS:files.test"}}));
    setenv("SSL_CERT_FILE", secure.CaFile().c_str(), 1);
    const std::string body(300000, 'q');
    WriteFile(plain.Root() + "/a.bin", body);
    WriteFile(secure.Root("files.test") + "/a.bin", body);
    StartRuntime();

    downloader->Download(1, plain.Url("/a.bin").c_str(), 10);
    downloader->Download(2, secure.Url("files.test", "/redirect/redirect/a.bin").c_str(), 20);
    downloader->Download(3, secure.Url("files.test", "/missing.bin").c_str(), 30);
    ASSERT_TRUE(WaitForReports(3));
    for (size_t i = 0; i < sink.reports.size(); ++i) {
        if (sink.reports[i] == "failed 3 30") continue;
        EXPECT_TRUE(sink.reports[i] == "done 1 10" || sink.reports[i] == "done 2 20") << sink.reports[i];
        EXPECT_TRUE(sink.bodies[i] == body);
    }
    EXPECT_EQ(downloader->RunningCount(), 0u);
}

TEST_F(HttpDownloaderLive, ABodyLongerThanItsLengthIsCutAtTheLength)
{
    ScriptedHttpServer server({{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello and more"}});
    StartRuntime();
    downloader->Download(4, server.Url("/x").c_str(), 40);
    ASSERT_TRUE(WaitForReports(1));
    EXPECT_EQ(sink.reports[0], "done 4 40");
    EXPECT_EQ(sink.bodies[0], "hello");
}
