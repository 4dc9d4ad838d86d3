// The real client layer on a real connection context: against the real
// engine process, and against a port where nobody listens.

#include "EngineProcess.h"
#include "NginxProcess.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/vqICDNLocalClientLayer.h"
#include "netlib/runtime/CVyx.h"
#include "netlib/runtime/cpADDRESS.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

class Recorder : public nwICDNLocalClientEventListener {
public:
    std::vector<std::string> calls;
    int32_t task = 0;
    void OnLocalConnected(int32_t) override { calls.push_back("connected"); }
    void OnLocalJobAccepted(const vqLOCALJOBACCEPTED* r, int32_t) override
    {
        task = r->taskNumber;
        calls.push_back("accepted " + std::to_string(r->totalBytes));
    }
    void OnLocalJobRejected(const vqLOCALJOBREJECTED* r, int32_t) override
    {
        calls.push_back(std::string("rejected ") + r->reason);
    }
    void OnLocalJobProgress(const vqLOCALPROGRESS*, int32_t) override {}
    void OnLocalFileDone(const vqLOCALFILEDONE* r, int32_t) override
    {
        calls.push_back(std::string("done ") + r->localPath);
    }
    void OnLocalFileDoneEx(const vqLOCALFILEDONEEX*, int32_t) override { calls.push_back("doneEx"); }
    void OnLocalJobFinished(const vqLOCALJOBFINISHED* r, int32_t) override
    {
        calls.push_back("finished " + std::to_string(r->valueB));
    }
    void OnLocalJobError(const vqLOCALJOBERROR*, int32_t) override { calls.push_back("error"); }
    void OnLocalNetworkLost(const vqLOCALNETWORKNOTICE*, int32_t) override {}
    void OnLocalNetworkRestored(const vqLOCALNETWORKNOTICE*, int32_t) override {}
    void OnLocalClosed(int32_t) override { calls.push_back("closed"); }
    void OnLocalConnectTimeout(int32_t) override { calls.push_back("timeout"); }
    void OnLocalProtocolError(int32_t) override { calls.push_back("protocol error"); }
    void OnLocalAskResume(int32_t) override { calls.push_back("ask"); }
    void OnLocalStatus(int32_t value, int32_t) override { calls.push_back("status " + std::to_string(value)); }
    bool Has(const std::string& prefix) const
    {
        for (const auto& call : calls)
            if (call.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

class LocalClientOnEngineTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
        network = std::make_unique<CVyx>(lock.As<cpCMutex>());
    }
    void TearDown() override
    {
        if (context) {
            Layer()->SetEventListener(nullptr, 0);
            context->Close();
        }
        connection.Assign(nullptr);
        network.reset();
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
    void Open(uint16_t port)
    {
        ASSERT_TRUE(connection.CreateInstance(CLSID_cpCQoSContext));
        context = connection.As<vqIQoSContext>();
        ASSERT_EQ(context->Open(1, 1, nullptr), VQ_OK_PLATFORM);
        ASSERT_EQ(context->AddLayer(CLSID_nwCCDNLocalClientLayer, false), VQ_OK_PLATFORM);
        const int32_t oneSecond = 1;
        context->SetParam(QOS_PARAM_CONNECT_TIMEOUT, &oneSecond);
        Layer()->SetEventListener(&recorder, 0);
        context->Connect(cpADDRESS{htonl(INADDR_LOOPBACK), port});
    }
    vqICDNLocalClientLayer* Layer() { return static_cast<vqICDNLocalClientLayer*>(context->GetTopLayer()); }

    vqSmartPtr lock;
    std::unique_ptr<CVyx> network;
    vqSmartPtr connection;
    vqIQoSContext* context = nullptr;
    Recorder recorder;
};

} // namespace

TEST_F(LocalClientOnEngineTest, ARefusedConnectGivesTimeoutThenClosed)
{
    Open(EngineProcess::FreePort());
    ASSERT_TRUE(PumpUntil([&] { return recorder.Has("closed"); }));
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"timeout", "closed"}));
}

TEST_F(LocalClientOnEngineTest, AJobRunsOnTheEngineThroughTheLayer)
{
    NginxProcess nginx;
    ASSERT_TRUE(nginx.Start(std::string(getenv("HOME")) + "/nginx"));
    std::ofstream(nginx.Root() + "/a.bin") << std::string(200000, 'a');
    EngineProcess engine;
    ASSERT_TRUE(engine.Start());
    Open(engine.Port());
    // Queued before the connection is up, as the engine downloader does.
    const std::string folder = std::string(getenv("HOME")) + "/dl/";
    const std::string url = nginx.Url("/a.bin");
    Layer()->SendServiceId("svc");
    Layer()->SendJobOptions(kLocalOptionsHighSpeed);
    vqLOCALJOBHEADER header{1, 1, {}};
    vqLOCALJOBFILE file{};
    strcpy(file.folder, folder.c_str());
    strcpy(file.fileName, "a.bin");
    file.url = url.c_str();
    Layer()->SendJob(header, &file);
    Layer()->SendMessage22();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Has("finished"); }));
    EXPECT_EQ(recorder.calls.front(), "connected");
    EXPECT_TRUE(recorder.Has("accepted 200000"));
    EXPECT_TRUE(recorder.Has("done " + folder + "a.bin"));
    EXPECT_TRUE(recorder.Has("status"));
    EXPECT_EQ(recorder.calls.back(), "finished 0");
}
