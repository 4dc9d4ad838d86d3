// The fault matrix of the engine path: a job through the service interface,
// run by the real engine program installed from a signed update site (a
// real nginx), its file fetched from a server that misbehaves in one way
// per row. Unless a row says otherwise the fault is shown to the engine
// alone (its user agent) while the plain downloader is served the file: a
// row then shows whether the engine copes by itself (the job completes with
// no notice) or gives the job up to the plain path (notice 518) and the
// job still completes there. Faults of the network and the disk meet both
// paths. Every row also checks that no file is reported done that differs
// from the server's, that nothing is written outside the job's folder, and
// that beside a completed file nothing the engine kept for a resume stays.

#include "AgentServerProcess.h"
#include "EngineProcess.h"
#include "EngineSite.h"
#include "FaultMatrix.h"
#include "FaultPeer.h"
#include "JobNotices.h"
#include "LoopbackSockets.h"
#include "NginxProcess.h"
#include "RangeAnswer.h"
#include "engine/IGetPath.h"
#include "platform/Connectivity.h"
#include "service/DlApi.h"
#include "ServiceEvents.h"
#include "TestFiles.h"
#include "tools/engine-client/EngineClient.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>

#include <algorithm>
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

constexpr size_t kFileSize = 300000;
constexpr const char* kEngineAgent = "ZDRDownloadV32/";
// The engine's stall limit in these tests (ZDR_ENGINE_STALL_SECONDS).
constexpr int kStallSeconds = 2;

class EngineFaultMatrixTest;

// How a row's file is reached: the URL the job names, after whatever the
// row has to set up (servers, mounts, the job's folder).
typedef std::function<std::string(EngineFaultMatrixTest& test)> Setup;

struct EngineRow {
    const char* fault;
    Setup setup;
    bool completes;
    // The notices the job gets, in order.
    std::vector<int> notices;
    // In the activity log; "" none.
    std::string log;
    // DlAddJobFile's answer (DL_OK: the job starts).
    int addResult = DL_OK;
};

std::string NoticeName(int code)
{
    switch (code) {
    case DL_NOTICE_DISK_FULL: return "513 (disk full)";
    case DL_NOTICE_DOWNLOAD_FAILED: return "517 (download failed)";
    case DL_NOTICE_ENGINE_GAVE_UP: return "518 (engine gave up: plain path)";
    default: return std::to_string(code);
    }
}

FaultOutcome OutcomeOf(const EngineRow& row)
{
    FaultOutcome outcome;
    outcome.completes = row.completes;
    if (row.addResult != DL_OK) {
        outcome.signal = "DlAddJobFile answers " + std::to_string(row.addResult) + ", event 528 (download path failed)";
    } else {
        std::string notices;
        for (int code : row.notices) notices += (notices.empty() ? "notice " : ", notice ") + NoticeName(code);
        outcome.signal = notices.empty() ? "no notice" : notices;
        outcome.signal += row.completes ? "; event 516 (job complete)" : "; no event 516, no file done";
    }
    outcome.log = row.log;
    return outcome;
}

std::vector<EngineRow>& Rows();

std::vector<FaultMatrixRow> MatrixRows()
{
    std::vector<FaultMatrixRow> rows;
    for (const EngineRow& row : Rows()) rows.push_back({row.fault, OutcomeOf(row)});
    return rows;
}

bool Connected()
{
    return true;
}

bool FromEngine(const std::string& request)
{
    return FaultPeer::Header(request, "User-Agent").rfind(kEngineAgent, 0) == 0;
}

// The engine's size probe of a file the job gives without a size.
bool IsProbe(const std::string& request)
{
    return FaultPeer::Header(request, "Range") == "bytes=0-0";
}

// The file as a server that honours Range answers it.
FaultPeer::Answer ServeContent(const std::string& request, const std::string& content, bool honourRange = true)
{
    return {RangeAnswer(request, content, "\"m1\"", honourRange, false)};
}

using Events = ServiceEvents;

class EngineFaultMatrixTest : public testing::TestWithParam<size_t> {
public:
    void SetUp() override
    {
        unsetenv("ZDR_NO_ENGINE");
        base = std::string(getenv("HOME")) + "/matrix";
        root = base + "/download/";
        target = root + "job/";
        fs::create_directories(target);
        ASSERT_TRUE(agent.Start(base + "/reports.jsonl"));
        setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(agent.Port())).c_str(), 1);
        setenv("ZDR_ENGINE_PORT", std::to_string(NginxProcess::FreePort()).c_str(), 1);
        setenv("ZDR_ENGINE_STALL_SECONDS", std::to_string(kStallSeconds).c_str(), 1);
        WriteFile(base + "/online", "");
        setenv("ZDR_ENGINE_CONNECTIVITY_FILE", (base + "/online").c_str(), 1);
        SetConnectivityCheckForTesting(&Connected);
        content = RandomBytes(kFileSize, 7);
    }
    void TearDown() override
    {
        DlFinalize();
        StopEngines();
        SetConnectivityCheckForTesting(nullptr);
        for (const std::string& mount : mounts) umount2(mount.c_str(), MNT_DETACH);
        for (const char* name : {"ZDR_AGENT_HOST", "ZDR_ENGINE_PORT", "ZDR_ENGINE_CONNECTIVITY_FILE", "ZDR_UPDATE_HOST",
                                 "ZDR_ENGINE_STALL_SECONDS", "ZDR_ENGINE_NO_DATA_SECONDS"})
            unsetenv(name);
        peer.reset();
        tls.Stop();
        nginx.Stop();
        agent.Stop();
    }

    // nginx with the update site, the file under /files/, and the row's
    // extra configuration.
    void StartNginx(const std::string& extraConfig = "")
    {
        nginx.AddServerConfig(extraConfig);
        ASSERT_TRUE(nginx.Start(base + "/nginx"));
        setenv("ZDR_UPDATE_HOST", ("127.0.0.1:" + std::to_string(nginx.Port())).c_str(), 1);
        ASSERT_TRUE(EngineSite::Build(nginx.Root(), nginx.Url(""), base + "/release"));
        Publish("/files/a.bin");
    }
    // The file at this path of nginx's root too.
    void Publish(const std::string& path)
    {
        WriteFile(nginx.Root() + path, content);
        EngineSite::AllowNginx(base);
    }
    // A scripted peer: the fault for the engine, the file for the rest.
    std::string EngineOnly(const std::function<FaultPeer::Answer(const std::string& request, int engineIndex)>& fault)
    {
        auto engineRequests = std::make_shared<int>(0);
        peer = std::make_unique<FaultPeer>([this, fault, engineRequests](const std::string& request, int) {
            if (!FromEngine(request)) return ServeContent(request, content);
            return fault(request, (*engineRequests)++);
        });
        return peer->Url("/files/a.bin");
    }
    void Mount(const std::string& where, const std::string& options)
    {
        fs::create_directories(where);
        ASSERT_EQ(RunProgram({"mount", "-t", "tmpfs", "-o", options, "tmpfs", where}), 0) << where;
        mounts.push_back(where);
    }
    std::vector<int> Notices(int job) { return PopNoticeCodes(job); }
    void StopEngines() { EngineSite::StopEngines(GetPathProvider()->GetEngineExePath()); }

    std::string base;
    std::string root;   // nothing may appear outside target under it
    std::string target; // the job's folder
    std::string content;
    std::vector<std::string> mounts;
    NginxProcess nginx;
    NginxProcess tls;
    AgentServerProcess agent;
    std::unique_ptr<FaultPeer> peer;
    Events events;
};

std::string Head(const std::string& lengthLine)
{
    return "HTTP/1.1 200 OK\r\n" + lengthLine + "Connection: close\r\n\r\n";
}

std::vector<EngineRow>& Rows()
{
    typedef EngineFaultMatrixTest T;
    typedef FaultPeer::Answer A;
    static const std::vector<int> kGaveUp = {DL_NOTICE_ENGINE_GAVE_UP};
    static const std::string kGaveUpLog = "[MeshpullLib] CEngineDownloader Job Given Up (1): plain path";
    static std::vector<EngineRow> rows = {
        {"connection refused",
         [](T&) { return "http://127.0.0.1:" + std::to_string(RefusedPort()) + "/files/a.bin"; }, false,
         {DL_NOTICE_ENGINE_GAVE_UP, DL_NOTICE_DOWNLOAD_FAILED}, kGaveUpLog},
        {"reset at accept (every connection)",
         [](T& t) {
             t.peer = std::make_unique<FaultPeer>([](const std::string&, int) { return A{}; }, true);
             return t.peer->Url("/files/a.bin");
         },
         false, {DL_NOTICE_ENGINE_GAVE_UP, DL_NOTICE_DOWNLOAD_FAILED}, kGaveUpLog},
        {"reset mid-header",
         [](T& t) { return t.EngineOnly([](const std::string&, int) { return A{"HTTP/1.1 200 OK\r\nContent-Le", std::string::npos, 0, true}; }); },
         true, kGaveUp, kGaveUpLog},
        {"stall mid-header (the engine's stall limit ends it)",
         [](T& t) { return t.EngineOnly([](const std::string&, int) { return A{"HTTP/1.1 200 OK\r\nContent-Le", std::string::npos, 60000}; }); },
         true, kGaveUp, kGaveUpLog},
        {"stall mid-body (the engine's stall limit ends it)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 A answer = ServeContent(request, t.content);
                 answer.cutAfter = answer.bytes.size() / 2;
                 answer.stallMs = 60000;
                 return answer;
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"a trickle of 100 bytes a second (the engine's speed floor ends it)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 A answer = ServeContent(request, t.content);
                 answer.trickleMs = 100;
                 answer.trickleBytes = 10;
                 return answer;
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"close mid-body (every answer cut after 100 KB; continued by ranges)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 A answer = ServeContent(request, t.content);
                 answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100000;
                 return answer;
             });
         },
         true, {}, ""},
        {"reset mid-body (every answer; continued by ranges)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 A answer = ServeContent(request, t.content);
                 answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100000;
                 answer.reset = true;
                 return answer;
             });
         },
         true, {}, ""},
        {"body longer than Content-Length",
         [](T& t) {
             return t.EngineOnly([&t](const std::string&, int) {
                 return A{Head("Content-Length: " + std::to_string(t.content.size()) + "\r\n") + t.content + "trailing junk"};
             });
         },
         true, {}, ""},
        {"Content-Length missing (body ends at close)",
         [](T& t) { return t.EngineOnly([&t](const std::string&, int) { return A{Head("") + t.content}; }); }, true, {}, ""},
        {"Content-Length negative",
         [](T& t) { return t.EngineOnly([&t](const std::string&, int) { return A{Head("Content-Length: -5\r\n") + t.content}; }); },
         true, kGaveUp, kGaveUpLog},
        {"Content-Length not a number",
         [](T& t) { return t.EngineOnly([&t](const std::string&, int) { return A{Head("Content-Length: lots\r\n") + t.content}; }); },
         true, kGaveUp, kGaveUpLog},
        {"Content-Length twice with two values",
         [](T& t) {
             return t.EngineOnly([&t](const std::string&, int) {
                 return A{Head("Content-Length: " + std::to_string(t.content.size()) + "\r\nContent-Length: 1000\r\n") + t.content};
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"Content-Length above 2^63",
         [](T& t) {
             return t.EngineOnly([&t](const std::string&, int) { return A{Head("Content-Length: 9223372036854775809\r\n") + t.content}; });
         },
         true, kGaveUp, kGaveUpLog},
        {"chunked answer",
         [](T& t) {
             return t.EngineOnly([&t](const std::string&, int) {
                 std::string body;
                 for (size_t at = 0; at < t.content.size(); at += 40000) {
                     const std::string chunk = t.content.substr(at, 40000);
                     char size[32];
                     snprintf(size, sizeof size, "%zx\r\n", chunk.size());
                     body += size + chunk + "\r\n";
                 }
                 return A{Head("Transfer-Encoding: chunked\r\n") + body + "0\r\n\r\n"};
             });
         },
         true, {}, ""},
        {"200 to a Range request (nginx, max_ranges 0)",
         [](T& t) {
             t.StartNginx("    location /whole/ { max_ranges 0; }\n");
             t.Publish("/whole/a.bin");
             return t.nginx.Url("/whole/a.bin");
         },
         true, {}, ""},
        {"200 to the Range request that continues a cut answer",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 A answer = ServeContent(request, t.content, false);
                 // The first answer is cut; the continuation gets the whole file.
                 if (FaultPeer::Header(request, "Range").empty() || FaultPeer::Header(request, "Range") == "bytes=0-0")
                     answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100000;
                 return answer;
             });
         },
         true, {}, ""},
        {"206 with a wrong Content-Range to the continuing request",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 const std::string range = FaultPeer::Header(request, "Range");
                 if (range.empty()) {
                     A answer = ServeContent(request, t.content);
                     answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100000;
                     return answer;
                 }
                 // Ranges answered from byte 0 onwards whatever was asked.
                 return ServeContent("GET / HTTP/1.1\r\nRange: bytes=0-\r\n\r\n", t.content);
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"416 to every request",
         [](T& t) {
             return t.EngineOnly([&t](const std::string&, int) {
                 return A{"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(t.content.size()) +
                          "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"301, 302, 307, 308 chain (nginx, absolute Locations)",
         [](T& t) {
             t.StartNginx();
             return t.nginx.Url("/moved/redirect/temporary/permanent/files/a.bin");
         },
         true, {}, ""},
        {"303 (nginx)",
         [](T& t) {
             t.StartNginx("    location ~ ^/seeother(/.*)$ { return 303 $1; }\n");
             return t.nginx.Url("/seeother/files/a.bin");
         },
         true, {}, ""},
        {"relative Locations (nginx, absolute_redirect off)",
         [](T& t) {
             t.StartNginx("    location ~ ^/relative(/.*)$ { absolute_redirect off; return 302 $1; }\n");
             return t.nginx.Url("/relative/redirect/files/a.bin");
         },
         true, {}, ""},
        {"redirect loop (nginx)",
         [](T& t) {
             t.StartNginx("    location /loop/ { if ($http_user_agent ~ \"^ZDRDownloadV32\") { return 302 $uri; } }\n");
             t.Publish("/loop/a.bin");
             return t.nginx.Url("/loop/a.bin");
         },
         true, kGaveUp, kGaveUpLog},
        {"redirect chain of 9 (one more than allowed)",
         [](T& t) {
             t.StartNginx();
             std::string path = "/files/a.bin";
             for (int i = 0; i < 9; ++i) path = (i % 2 ? "/moved" : "/temporary") + path;
             return t.nginx.Url(path);
         },
         true, kGaveUp, kGaveUpLog},
        {"Location to another port",
         [](T& t) {
             t.StartNginx();
             const std::string there = t.nginx.Url("/files/a.bin");
             t.peer = std::make_unique<FaultPeer>([there](const std::string&, int) {
                 return A{"HTTP/1.1 302 Found\r\nLocation: " + there + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
             });
             return t.peer->Url("/files/a.bin");
         },
         true, {}, ""},
        {"500 to every request",
         [](T& t) {
             return t.EngineOnly([](const std::string&, int) {
                 return A{"HTTP/1.1 500 Oops\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"503 with Retry-After: 1 to every request",
         [](T& t) {
             return t.EngineOnly([](const std::string&, int) {
                 return A{"HTTP/1.1 503 Busy\r\nRetry-After: 1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"503 with Retry-After: 1 three times, then the file",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int index) {
                 if (index < 3) return A{"HTTP/1.1 503 Busy\r\nRetry-After: 1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
                 return ServeContent(request, t.content);
             });
         },
         true, {}, ""},
        {"503 with Retry-After: 86400 (longer than a file may go without data: given up at once)",
         [](T& t) {
             return t.EngineOnly([](const std::string&, int) {
                 return A{"HTTP/1.1 503 Busy\r\nRetry-After: 86400\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"eight mirrors that accept and never answer (the file's silence bound, 4 s here, ends it)",
         [](T& t) {
             setenv("ZDR_ENGINE_NO_DATA_SECONDS", "4", 1);
             std::string entry = t.EngineOnly([](const std::string&, int) { return A{"", std::string::npos, 60000}; });
             for (int i = 2; i <= 8; ++i) entry += "|" + t.peer->Url("/m" + std::to_string(i) + "/a.bin");
             return entry;
         },
         true, kGaveUp, kGaveUpLog},
        {"a 1 MiB header line",
         [](T& t) {
             return t.EngineOnly([&t](const std::string&, int) {
                 return A{"HTTP/1.1 200 OK\r\nX-Huge: " + std::string(1 << 20, 'h') + "\r\n" +
                          "Content-Length: " + std::to_string(t.content.size()) + "\r\nConnection: close\r\n\r\n" + t.content};
             });
         },
         true, kGaveUp, kGaveUpLog},
        {"10,000 header lines",
         [](T& t) {
             return t.EngineOnly([&t](const std::string&, int) {
                 std::string head = "HTTP/1.1 200 OK\r\n";
                 for (int i = 0; i < 10000; ++i) head += "X-Line-" + std::to_string(i) + ": x\r\n";
                 return A{head + "Content-Length: " + std::to_string(t.content.size()) + "\r\nConnection: close\r\n\r\n" +
                          t.content};
             });
         },
         true, {}, ""},
        {"full disk during the write (1 MiB tmpfs, 2 MiB file of unknown length)",
         [](T& t) {
             t.Mount(t.target, "size=1m");
             t.content = RandomBytes(2 << 20, 8);
             // The engine learns the length only at the end; the plain
             // downloader is told it.
             t.peer = std::make_unique<FaultPeer>([&t](const std::string& request, int) {
                 return FromEngine(request) ? A{Head("") + t.content} : ServeContent(request, t.content);
             });
             return t.peer->Url("/files/a.bin");
         },
         // The engine keeps what it wrote, for a resume; the plain path's
         // size check then finds no room and drops the job.
         false, {DL_NOTICE_DISK_FULL, DL_NOTICE_ENGINE_GAVE_UP, DL_NOTICE_DISK_FULL},
         "[MeshpullLib] CEngineDownloader Job Given Up (2): plain path"},
        {"no room left for the control file (1 MiB tmpfs, a 1 MiB part laid out in it, data in 32 KiB steps for 3 s)",
         [](T& t) {
             t.Mount(t.target, "size=1m");
             t.content = RandomBytes(1 << 20, 9);
             t.peer = std::make_unique<FaultPeer>([&t](const std::string& request, int) {
                 if (!FromEngine(request)) return ServeContent(request, t.content);
                 A answer{Head("Content-Length: " + std::to_string(t.content.size()) + "\r\n") + t.content};
                 answer.trickleMs = 100;
                 answer.trickleBytes = 32 << 10;
                 return answer;
             });
             return t.peer->Url("/files/a.bin");
         },
         true, {}, ""},
        {"the folder is a file",
         [](T& t) {
             fs::remove_all(t.target);
             WriteFile(t.root + "job", "a file");
             return "http://127.0.0.1:1/files/a.bin";
         },
         false, {}, "", DL_ERR_FOLDER},
        {"the folder is read-only (read-only mount)",
         [](T& t) {
             t.StartNginx();
             t.Mount(t.target, "ro,size=1m");
             return t.nginx.Url("/files/a.bin");
         },
         false, {DL_NOTICE_ENGINE_GAVE_UP, DL_NOTICE_DOWNLOAD_FAILED}, kGaveUpLog},
        {"HTTPS with a self-signed certificate",
         [](T& t) {
             EXPECT_TRUE(t.tls.Start(t.base + "/tls", {{"localhost", "DNS:localhost", "self-signed"}}));
             WriteFile(t.tls.Root("localhost") + "/files/a.bin", t.content);
             for (const auto& entry : fs::recursive_directory_iterator(t.base + "/tls"))
                 fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
             return t.tls.Url("localhost", "/files/a.bin");
         },
         false, {DL_NOTICE_ENGINE_GAVE_UP, DL_NOTICE_DOWNLOAD_FAILED}, kGaveUpLog},
        {"200 without Content-Length to every request, closed after half the file (the probe told the size)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 if (IsProbe(request)) return ServeContent(request, t.content);
                 A answer{Head("") + t.content};
                 answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + t.content.size() / 2;
                 return answer;
             });
         },
         true, kGaveUp, "a.bin: the server's length 150000 is not the file's size 300000"},
        {"200 without Content-Length and longer than the file (the probe told the size)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 if (IsProbe(request)) return ServeContent(request, t.content);
                 return A{Head("") + t.content + std::string(70000, 'x')};
             });
         },
         true, kGaveUp, "a.bin: the server's answer runs past the file's size 300000"},
        {"200 with Content-Length 0 to every request (the probe told the size)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 if (IsProbe(request)) return ServeContent(request, t.content);
                 return A{Head("Content-Length: 0\r\n")};
             });
         },
         true, kGaveUp, "a.bin: the server's length 0 is not the file's size 300000"},
        {"206 claiming a total of 4 GiB to the continuing request (a 1 MiB disk)",
         [](T& t) {
             t.Mount(t.target, "size=1m");
             return t.EngineOnly([&t](const std::string& request, int) {
                 if (IsProbe(request)) return ServeContent(request, t.content);
                 A answer = ServeContent(request, t.content);
                 if (FaultPeer::Header(request, "Range").empty()) {
                     answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100000;
                     return answer;
                 }
                 const size_t total = answer.bytes.find("/" + std::to_string(t.content.size()) + "\r\n");
                 answer.bytes.replace(total + 1, std::to_string(t.content.size()).size(), "4294967296");
                 return answer;
             });
         },
         true, kGaveUp, "a.bin: the server's length 4294967296 is not the file's size 300000"},
        {"206 shorter than asked to every continuing request (40,000 bytes each)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 const std::string range = FaultPeer::Header(request, "Range");
                 if (range.empty()) {
                     A answer = ServeContent(request, t.content);
                     answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 10000;
                     return answer;
                 }
                 long long first = 0;
                 sscanf(range.c_str(), "bytes=%lld", &first);
                 const std::string shorter = "bytes=" + std::to_string(first) + "-" + std::to_string(first + 39999);
                 return ServeContent("GET / HTTP/1.1\r\nRange: " + shorter + "\r\n\r\n", t.content);
             });
         },
         true, {}, ""},
        {"no length but in a 206 shorter than asked (200s without Content-Length, the first reset)",
         [](T& t) {
             return t.EngineOnly([&t](const std::string& request, int) {
                 const std::string range = FaultPeer::Header(request, "Range");
                 if (range.empty() || range == "bytes=0-0") {
                     A answer{Head("") + t.content};
                     answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100000;
                     answer.reset = true;
                     return answer;
                 }
                 long long first = 0;
                 sscanf(range.c_str(), "bytes=%lld", &first);
                 const std::string shorter = "bytes=" + std::to_string(first) + "-" + std::to_string(first + 99999);
                 return ServeContent("GET / HTTP/1.1\r\nRange: " + shorter + "\r\n\r\n", t.content);
             });
         },
         true, {}, ""},
    };
    return rows;
}

FaultMatrixTable engineTransferTable("6. Engine transfer (the engine program, through Dl)", MatrixRows());

std::string RowName(const testing::TestParamInfo<size_t>& info)
{
    return FaultMatrixTestName(info.param, Rows()[info.param].fault);
}

} // namespace

TEST_P(EngineFaultMatrixTest, Row)
{
    const EngineRow& row = Rows()[GetParam()];
    SCOPED_TRACE(row.fault);
    // The update site is needed in any case; a row may have started it with
    // configuration of its own.
    const std::string url = row.setup(*this);
    if (!nginx.Accepts()) StartNginx();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(DlInitialize(nullptr, &Events::Callback, &events), DL_OK);
    ASSERT_EQ(DlSetServiceId("svc-matrix"), DL_OK);
    int job = 0;
    ASSERT_EQ(DlCreateJob(&job, "zdr", "svc-job"), DL_OK);
    ASSERT_EQ(DlAddJobFile(job, url.c_str(), target.c_str(), "a.bin", 0xFFFFFFFFu, -1, 1), row.addResult);
    if (row.addResult != DL_OK) {
        EXPECT_TRUE(events.WaitFor(DL_EVENT_DOWNLOAD_PATH_FAILED, 1, 10));
        EXPECT_TRUE(fs::is_regular_file(root + "job"));
        return;
    }
    const auto started = Clock::now();
    ASSERT_EQ(DlStartJob(job, 1), DL_OK);
    // The end: the job complete, or every expected notice in (and a moment
    // for anything that should not come).
    const auto deadline = started + std::chrono::seconds(150);
    while (Clock::now() < deadline && events.Count(DL_EVENT_JOB_COMPLETE) == 0 &&
           (row.completes || events.Count(DL_EVENT_NOTICE) < static_cast<int>(row.notices.size())))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(row.completes ? 100 : 1500));
    const std::string log = ReadLog();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_EQ(events.Count(DL_EVENT_JOB_COMPLETE), row.completes ? 1 : 0) << log;
    EXPECT_EQ(Notices(job), row.notices) << log;
    EXPECT_EQ(events.Count(DL_EVENT_FILE_DONE), row.completes ? 1 : 0);
    // Installed and verified, whatever became of the transfer.
    EXPECT_EQ(events.Count(DL_EVENT_UPDATE_SUCCEEDED), 1);
    if (row.completes) {
        EXPECT_TRUE(ReadFile(target + "a.bin") == content) << "the file differs from the server's";
        // Whichever path completed it, nothing the engine kept for a resume stays beside it.
        EXPECT_FALSE(fs::exists(target + "a.bin.zdrpart"));
        EXPECT_FALSE(fs::exists(target + "a.bin.zdrctl"));
    } else {
        EXPECT_FALSE(fs::exists(target + "a.bin"));
    }
    if (!row.log.empty()) {
        EXPECT_NE(log.find(row.log), std::string::npos) << log;
    }
    // Given up or not: never a word of giving up when there was no notice.
    if (row.notices.empty()) {
        EXPECT_EQ(log.find("Job Given Up"), std::string::npos) << log;
    }
    // Nothing outside the job's folder, and no temporary left in it.
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        EXPECT_EQ(entry.path().string().rfind(root + "job", 0), 0u) << entry.path();
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    }
    RecordProperty("seconds", std::to_string(seconds));
    DlRemoveJob(job);
}

INSTANTIATE_TEST_SUITE_P(EngineTransfer, EngineFaultMatrixTest, testing::Range<size_t>(0, Rows().size()), RowName);

// The engine alone, which the service's fallback hides: a Content-Length
// that is no number, too large, or said twice with two values was taken
// as the file's size (a file cut at the second value reported done; a size
// past 2^63 reported as no disk space). Now such an answer is not used: a
// probe learns nothing from it and a transfer asks again, and the third
// answer, a sound one, completes the file.
TEST(EngineUntrustedLength, ALengthThatIsNoNumberTooLargeOrSaidTwiceIsNeverUsed)
{
    const std::string content = RandomBytes(kFileSize, 5);
    const std::string folder = std::string(getenv("HOME")) + "/untrusted/";
    const std::string lines[] = {
        "Content-Length: " + std::to_string(content.size()) + "\r\nContent-Length: 1000\r\n",
        "Content-Length: 9223372036854775809\r\n",
        "Content-Length: 1000x\r\n",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        fs::remove_all(folder);
        EngineProcess engine;
        ASSERT_TRUE(engine.Start());
        FaultPeer peer([&](const std::string& request, int index) {
            if (index < 2) return FaultPeer::Answer{Head(line) + content};
            return ServeContent(request, content);
        });
        EngineClient client;
        ASSERT_TRUE(client.Connect(engine.Port()));
        ASSERT_TRUE(client.SendJob(1, kLocalOptionsHighSpeed, {{folder, "a.bin", peer.Url("/files/a.bin"), 0}}));
        std::vector<uint16_t> codes;
        vqLOCALJOBFINISHED finished{};
        EngineClient::Message message;
        while (client.Next(&message, 30000)) {
            codes.push_back(message.code);
            if (message.code != kLocalJobFinished) continue;
            ASSERT_TRUE(nwCDNLocalCodec::DecodeJobFinished(message.payload.data(),
                                                           static_cast<uint32_t>(message.payload.size()), &finished));
            break;
        }
        EXPECT_EQ(std::count(codes.begin(), codes.end(), kLocalJobError), 0);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), kLocalFileDone), 1);
        EXPECT_EQ(finished.valueB, 0);
        EXPECT_TRUE(ReadFile(folder + "a.bin") == content);
        EXPECT_EQ(peer.Requests().size(), 3u);
    }
}
