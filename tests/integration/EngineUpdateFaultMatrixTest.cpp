// The fault matrix of the engine update: a job through the service
// interface on the engine path, while the update site that must deliver
// the engine misbehaves in one way per row. The site is built and signed by
// zdr-update-site and served by a scripted peer that answers every request
// from the built files, except the row's fault on one of them; the job's
// file is served by a real nginx. A row ends one of two ways: the update
// fails (event 521 and its log line) and the job completes on the plain
// path, or the update completes, verified, and the engine runs the job.
// Never is an engine installed or started that was not verified.

#include "AgentServerProcess.h"
#include "EngineSite.h"
#include "FaultMatrix.h"
#include "FaultPeer.h"
#include "LoopbackSockets.h"
#include "NginxProcess.h"
#include "engine/IGetPath.h"
#include "engine/UpdateSignature.h"
#include "platform/Connectivity.h"
#include "service/DlApi.h"
#include "ServiceEvents.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kSite = "/ostrel/zdrdownload/update/v3_32/";

class EngineUpdateFaultMatrixTest;

// What the peer answers for a request of the site, given the served file's
// path (under the site folder) and the answer it would give without a fault.
typedef std::function<FaultPeer::Answer(const std::string& path, const FaultPeer::Answer& fine)> Fault;

struct UpdateRow {
    const char* fault;
    // Which file of the site the fault hits ("" every request).
    std::string file;
    Fault answer;
    bool updates; // true: verified and installed; false: the update fails
    // In the activity log; "" none (the log lives in the engine folder).
    std::string log;
    // The event that tells the update failed: 521 (update failed) or 527
    // (engine path failed).
    int event = DL_EVENT_UPDATE_FAILED;
    // Run before the job, after the site is built (mounts).
    std::function<void(EngineUpdateFaultMatrixTest&)> prepare = nullptr;
    // Every connection is reset as soon as it is accepted.
    bool resetAtAccept = false;
    // The description names the files on an HTTPS server whose certificate
    // is self-signed.
    bool archiveOverBadTls = false;
};

FaultOutcome OutcomeOf(const UpdateRow& row)
{
    FaultOutcome outcome;
    // The job completes either way: on the engine, or on the plain path.
    outcome.completes = true;
    const std::string told =
        row.event == DL_EVENT_UPDATE_FAILED ? "event 521 (update failed)" : "event 527 (engine path failed)";
    outcome.signal = row.updates ? "event 520 (update succeeded); the engine runs the job; event 516"
                                 : told + "; no engine installed or started; the job completes on the plain path; event 516";
    outcome.log = row.log;
    return outcome;
}

std::vector<UpdateRow>& Rows();

std::vector<FaultMatrixRow> MatrixRows()
{
    std::vector<FaultMatrixRow> rows;
    for (const UpdateRow& row : Rows()) rows.push_back({row.fault, OutcomeOf(row)});
    return rows;
}

bool Connected()
{
    return true;
}

using Events = ServiceEvents;

class EngineUpdateFaultMatrixTest : public testing::TestWithParam<size_t> {
public:
    void SetUp() override
    {
        unsetenv("ZDR_NO_ENGINE");
        base = std::string(getenv("HOME")) + "/matrix";
        target = base + "/download/";
        fs::create_directories(target);
        ASSERT_TRUE(agent.Start(base + "/reports.jsonl"));
        setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(agent.Port())).c_str(), 1);
        setenv("ZDR_ENGINE_PORT", std::to_string(NginxProcess::FreePort()).c_str(), 1);
        WriteFile(base + "/online", "");
        setenv("ZDR_ENGINE_CONNECTIVITY_FILE", (base + "/online").c_str(), 1);
        SetConnectivityCheckForTesting(&Connected);
        ASSERT_TRUE(nginx.Start(base + "/nginx"));
        content = RandomBytes(200000, 11);
        WriteFile(nginx.Root() + "/files/a.bin", content);
        AllowNginx();
    }
    void TearDown() override
    {
        DlFinalize();
        StopEngines();
        SetConnectivityCheckForTesting(nullptr);
        for (const std::string& mount : mounts) umount2(mount.c_str(), MNT_DETACH);
        for (const char* name : {"ZDR_AGENT_HOST", "ZDR_ENGINE_PORT", "ZDR_ENGINE_CONNECTIVITY_FILE", "ZDR_UPDATE_HOST"})
            unsetenv(name);
        peer.reset();
        tls.Stop();
        nginx.Stop();
        agent.Stop();
    }
    void AllowNginx() { EngineSite::AllowNginx(base); }
    // The site's file for a request path, or "" when it has none.
    std::string SitePath(const std::string& request) const
    {
        const size_t space = request.find(' ');
        const std::string path = request.substr(space + 1, request.find(' ', space + 1) - space - 1);
        if (path.rfind(kSite, 0) != 0) return "";
        return path.substr(std::string(kSite).size());
    }
    FaultPeer::Answer Fine(const std::string& path) const
    {
        const std::string file = site + kSite + path;
        if (path.empty() || !fs::is_regular_file(file))
            return {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
        const std::string body = ReadFile(file);
        return {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body};
    }
    // The site on a scripted peer, its URLs pointing at the peer.
    void ServeSite(const UpdateRow& row)
    {
        peer = std::make_unique<FaultPeer>(
            [this, &row](const std::string& request, int) {
                const std::string path = SitePath(request);
                const FaultPeer::Answer fine = Fine(path);
                if (row.file.empty() || path == row.file) return row.answer(path, fine);
                return fine;
            },
            row.resetAtAccept);
        site = base + "/site";
        std::string baseUrl = peer->Url("");
        if (row.archiveOverBadTls) {
            ASSERT_TRUE(tls.Start(base + "/tls", {{"localhost", "DNS:localhost", "self-signed"}}));
            baseUrl = tls.Url("localhost", "");
        }
        ASSERT_TRUE(EngineSite::Build(site, baseUrl, base + "/release"));
        if (row.archiveOverBadTls) {
            fs::copy(site, tls.Root("localhost"), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
            AllowNginx();
        }
        setenv("ZDR_UPDATE_HOST", ("127.0.0.1:" + std::to_string(peer->Port())).c_str(), 1);
    }
    void Mount(const std::string& where, const std::string& options)
    {
        fs::create_directories(where);
        ASSERT_EQ(RunProgram({"mount", "-t", "tmpfs", "-o", options, "tmpfs", where}), 0) << where;
        mounts.push_back(where);
    }
    std::string EngineExe() const { return GetPathProvider()->GetEngineExePath(); }
    // Processes running any executable in the engine's folder.
    std::vector<pid_t> EnginePids() const { return EngineSite::EnginePids(GetPathProvider()->GetEngineFolder()); }
    void StopEngines() { EngineSite::StopEngines(GetPathProvider()->GetEngineFolder()); }
    // Requests for the job's file with the engine's user agent, and with any other.
    std::pair<size_t, size_t> Fetches() { return EngineSite::Fetches(nginx, "/files/a.bin"); }

    std::string base;
    std::string target;
    std::string site;
    std::string content;
    std::vector<std::string> mounts;
    NginxProcess nginx;
    NginxProcess tls;
    AgentServerProcess agent;
    std::unique_ptr<FaultPeer> peer;
    Events events;
};

typedef FaultPeer::Answer A;

A Cut(const A& fine, size_t bodyBytes)
{
    A answer = fine;
    answer.cutAfter = fine.bytes.find("\r\n\r\n") + 4 + bodyBytes;
    return answer;
}

std::string Body(const A& fine)
{
    return fine.bytes.substr(fine.bytes.find("\r\n\r\n") + 4);
}

A WithHead(const std::string& head, const A& fine)
{
    return {"HTTP/1.1 200 OK\r\n" + head + "Connection: close\r\n\r\n" + Body(fine)};
}

// The description padded past anything a description can be, and signed
// as the maker would sign it; the other files as built.
A PaddedDescription(const std::string& path, const A& fine)
{
    const std::string built = std::string(getenv("HOME")) + "/matrix/site" + kSite + "zdrdownload_updater.xml";
    const std::string padded = ReadFile(built) + std::string(200 << 10, ' ') + "\r\n";
    std::string body;
    if (path == "zdrdownload_updater.xml") body = padded;
    else if (path == std::string("zdrdownload_updater.xml") + kSignatureFileSuffix)
        body = SignEd25519(ReadFile(ZDR_DEMO_SIGNING_KEY), padded.data(), padded.size());
    else return fine;
    return A{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body};
}

std::vector<UpdateRow>& Rows()
{
    static const std::string kPackage = "files/ZDRDownloadV32.exe.zip";
    static const std::string kFail = "[MeshpullLib] Patch Fail";
    static std::vector<UpdateRow> rows = {
        {"connection refused", "", nullptr, false, "[MeshpullLib] Update Server Unreachable (URL: http://127.0.0.1:"},
        {"a name that does not resolve", "", nullptr, false, "[MeshpullLib] Update Server Unreachable (URL: http://nowhere.invalid/",
         DL_EVENT_UPDATE_FAILED, [](EngineUpdateFaultMatrixTest&) { setenv("ZDR_UPDATE_HOST", "nowhere.invalid", 1); }},
        {"reset at accept (every connection)", "", [](const std::string&, const A& fine) { return fine; }, false,
         ")(no signature)", DL_EVENT_UPDATE_FAILED, nullptr, true},
        {"reset mid-header (the archive)", kPackage,
         [](const std::string&, const A&) { return A{"HTTP/1.1 200 OK\r\nContent-Le", std::string::npos, 0, true}; }, false,
         kFail},
        {"stall mid-header (the description; the 4 s idle limit ends it)", "zdrdownload_updater.xml",
         [](const std::string&, const A&) { return A{"HTTP/1.1 200 OK\r\nContent-Le", std::string::npos, 60000}; }, false,
         kFail},
        {"stall mid-body (the archive; the 4 s idle limit ends it)", kPackage,
         [](const std::string&, const A& fine) {
             A answer = Cut(fine, 100000);
             answer.stallMs = 60000;
             return answer;
         },
         false, kFail},
        {"close mid-body (the archive)", kPackage, [](const std::string&, const A& fine) { return Cut(fine, 100000); }, false,
         kFail},
        {"body longer than Content-Length (the archive)", kPackage,
         [](const std::string&, const A& fine) { return A{fine.bytes + "trailing junk"}; }, true, "[MeshpullLib] Patch Success"},
        {"Content-Length missing (the archive)", kPackage,
         [](const std::string&, const A& fine) { return WithHead("", fine); }, false, kFail},
        {"Content-Length negative (the archive)", kPackage,
         [](const std::string&, const A& fine) { return WithHead("Content-Length: -5\r\n", fine); }, false, kFail},
        {"Content-Length not a number (the archive)", kPackage,
         [](const std::string&, const A& fine) { return WithHead("Content-Length: lots\r\n", fine); }, false, kFail},
        {"Content-Length twice with two values (the archive)", kPackage,
         [](const std::string&, const A& fine) {
             return WithHead("Content-Length: " + std::to_string(Body(fine).size()) + "\r\nContent-Length: 1000\r\n", fine);
         },
         false, kFail},
        {"Content-Length above 2^63 (the archive)", kPackage,
         [](const std::string&, const A& fine) { return WithHead("Content-Length: 9223372036854775809\r\n", fine); }, false,
         kFail},
        {"chunked answer (the archive)", kPackage,
         [](const std::string&, const A& fine) {
             const std::string body = Body(fine);
             char size[32];
             snprintf(size, sizeof size, "%zx\r\n", body.size());
             return A{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n" + std::string(size) + body +
                      "\r\n0\r\n\r\n"};
         },
         false, kFail},
        {"416 (the archive)", kPackage,
         [](const std::string&, const A&) {
             return A{"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
         },
         false, kFail},
        {"302 with a relative Location (the archive; redirects are not followed)", kPackage,
         [](const std::string&, const A&) {
             return A{"HTTP/1.1 302 Found\r\nLocation: /ostrel/zdrdownload/update/v3_32/files/all.zip\r\nContent-Length: "
                      "0\r\nConnection: close\r\n\r\n"};
         },
         false, kFail},
        {"301 to another port (the description; redirects are not followed)", "zdrdownload_updater.xml",
         [](const std::string&, const A&) {
             return A{"HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:1/x.xml\r\nContent-Length: 0\r\nConnection: "
                      "close\r\n\r\n"};
         },
         false, kFail},
        {"503 with Retry-After: 1 (the archive, every time)", kPackage,
         [](const std::string&, const A&) {
             return A{"HTTP/1.1 503 Busy\r\nRetry-After: 1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
         },
         false, kFail},
        {"500 (the digest list)", "files/ZDRDownloadV32.exe.zip.md4",
         [](const std::string&, const A&) { return A{"HTTP/1.1 500 Oops\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"}; },
         false, kFail},
        {"a 1 MiB header line (the archive)", kPackage,
         [](const std::string&, const A& fine) {
             return WithHead("X-Huge: " + std::string(1 << 20, 'h') + "\r\nContent-Length: " + std::to_string(Body(fine).size()) + "\r\n",
                             fine);
         },
         false, kFail},
        {"10,000 header lines (the archive)", kPackage,
         [](const std::string&, const A& fine) {
             std::string head;
             for (int i = 0; i < 10000; ++i) head += "X-Line-" + std::to_string(i) + ": x\r\n";
             return WithHead(head + "Content-Length: " + std::to_string(Body(fine).size()) + "\r\n", fine);
         },
         false, kFail},
        {"a digest list that does not match (the archive)", "files/ZDRDownloadV32.exe.zip.md4",
         [](const std::string&, const A& fine) {
             std::string body = Body(fine);
             body[body.size() - 1] = static_cast<char>(body[body.size() - 1] ^ 0x5a);
             return A{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body};
         },
         false, "[MeshpullLib] Digest Mismatch ("},
        {"a truncated archive (the archive, with a matching Content-Length)", kPackage,
         [](const std::string&, const A& fine) {
             const std::string body = Body(fine).substr(0, Body(fine).size() / 2);
             return A{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body};
         },
         false, "[MeshpullLib] Digest Mismatch ("},
        // The engine is unpacked beside its folder and switched in: the
        // folder that holds both is the one that fills up or cannot change.
        {"full disk while unpacking (the engine's folders on a 1 MiB tmpfs)", "", [](const std::string&, const A& fine) { return fine; },
         false, "[MeshpullLib] 엔진 다운로드 실패 result : 5", DL_EVENT_ENGINE_PATH_FAILED,
         [](EngineUpdateFaultMatrixTest& t) { t.Mount(GetPathProvider()->GetBaseFolder(), "size=1m"); }},
        {"the engine's folders are read-only (read-only mount; no log can be written)", "",
         [](const std::string&, const A& fine) { return fine; }, false, "", DL_EVENT_ENGINE_PATH_FAILED,
         [](EngineUpdateFaultMatrixTest& t) { t.Mount(GetPathProvider()->GetBaseFolder(), "ro,size=1m"); }},
        {"a signed description of 200 KiB (the description and its signature)", "", &PaddedDescription, false,
         "/zdrdownload_updater.xml)(Code: 4)"},
        {"HTTPS with a self-signed certificate (the archive)", "", [](const std::string&, const A& fine) { return fine; },
         false, "[MeshpullLib] Session Error (URL: https://localhost:", DL_EVENT_UPDATE_FAILED, nullptr, false, true},
        {"the engine folder is a file (no log can be written)", "", [](const std::string&, const A& fine) { return fine; },
         false, "", DL_EVENT_ENGINE_PATH_FAILED,
         [](EngineUpdateFaultMatrixTest&) {
             std::string folder = GetPathProvider()->GetEngineFolder();
             folder.pop_back();
             WriteFile(folder, "a file");
         }},
    };
    return rows;
}

FaultMatrixTable engineUpdateTable("7. Engine update (CEngineLauncher and the update site)", MatrixRows());

std::string RowName(const testing::TestParamInfo<size_t>& info)
{
    return FaultMatrixTestName(info.param, Rows()[info.param].fault);
}

} // namespace

TEST_P(EngineUpdateFaultMatrixTest, Row)
{
    const UpdateRow& row = Rows()[GetParam()];
    SCOPED_TRACE(row.fault);
    if (row.answer) {
        ServeSite(row);
    } else {
        // Nobody at the update host.
        setenv("ZDR_UPDATE_HOST", ("127.0.0.1:" + std::to_string(RefusedPort())).c_str(), 1);
    }
    ASSERT_FALSE(HasFatalFailure());
    if (row.prepare) row.prepare(*this);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(DlInitialize(nullptr, &Events::Callback, &events), DL_OK);
    ASSERT_EQ(DlSetServiceId("svc-matrix"), DL_OK);
    int job = 0;
    ASSERT_EQ(DlCreateJob(&job, "zdr", "svc-job"), DL_OK);
    ASSERT_EQ(DlAddJobFile(job, nginx.Url("/files/a.bin").c_str(), target.c_str(), "a.bin", 0xFFFFFFFFu, -1, 1), DL_OK);
    const auto started = Clock::now();
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE, 1, 120)) << ReadLog();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const std::string log = ReadLog();
    EXPECT_TRUE(ReadFile(target + "a.bin") == content);
    EXPECT_EQ(events.Count(DL_EVENT_FILE_DONE), 1);
    if (!row.log.empty()) {
        EXPECT_NE(log.find(row.log), std::string::npos) << log;
    }
    if (row.updates) {
        EXPECT_EQ(events.Count(DL_EVENT_UPDATE_SUCCEEDED), 1) << log;
        EXPECT_EQ(events.Count(DL_EVENT_UPDATE_FAILED), 0);
        EXPECT_TRUE(ReadFile(EngineExe()) == ReadFile(ZDR_ENGINE_PATH));
        EXPECT_GE(Fetches().first, 1u);
        EXPECT_EQ(Fetches().second, 0u);
    } else {
        // The update's failure is told; no job waited for the bound meant
        // for an engine that never gets ready.
        EXPECT_EQ(events.Count(row.event), 1) << log;
        EXPECT_EQ(log.find("Engine Not Ready"), std::string::npos) << log;
        EXPECT_EQ(events.Count(DL_EVENT_UPDATE_SUCCEEDED), 0) << log;
        EXPECT_EQ(log.find("Patch Success"), std::string::npos) << log;
        EXPECT_EQ(Fetches().first, 0u);
        EXPECT_GE(Fetches().second, 1u);
        // No unverified engine was installed, nor started.
        EXPECT_FALSE(fs::exists(EngineExe()));
        EXPECT_TRUE(EnginePids().empty());
        if (!row.log.empty()) {
            EXPECT_NE(log.find("[MeshpullLib] CPlatFormDownloader Begin"), std::string::npos) << log;
        }
    }
    RecordProperty("seconds", std::to_string(seconds));
    DlRemoveJob(job);
}

INSTANTIATE_TEST_SUITE_P(EngineUpdate, EngineUpdateFaultMatrixTest, testing::Range<size_t>(0, Rows().size()), RowName);
