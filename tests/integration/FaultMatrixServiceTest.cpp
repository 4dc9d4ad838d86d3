// The fault matrix of the service's own requests outside a job: the size
// check a front end runs before the user picks a folder (DlAddSizeCheckUrl,
// DlStartSizeCheck: CContentLengthChecker) and the portal file list fetch
// (DlFetchData: CDataDownloadSession). Each row is one URL against real
// nginx or the scripted peer; it completes with the server's exact length or
// bytes, or fails with its event and a log line that says why.

#include "FaultMatrix.h"
#include "FaultRig.h"
#include "LoopbackSockets.h"
#include "NginxProcess.h"
#include "ServiceEvents.h"
#include "TestFiles.h"
#include "netlib/runtime/cpResolver.h"
#include "platform/Connectivity.h"
#include "service/DlApi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using PeerAnswer = FaultHttpServer::Answer;
using namespace fault;

bool Connected()
{
    return true;
}

struct Rig {
    typedef std::function<PeerAnswer(const std::string& request, int number, const std::string& bytes)> Script;

    std::string base;
    std::string url;
    std::string bytes; // what the server holds at url
    NginxProcess nginx;
    NginxProcess tls;
    std::unique_ptr<FaultHttpServer> peer;

    bool StartNginx(const std::string& config, size_t size, const std::string& path)
    {
        nginx.AddServerConfig(config);
        if (!nginx.Start(base + "/nginx")) return false;
        bytes = RandomBytes(size, 11);
        WriteFile(nginx.Root() + "/files/x.bin", bytes);
        url = nginx.Url(path);
        return true;
    }
    void OnPeer(size_t size, Script script)
    {
        bytes = RandomBytes(size, 13);
        const std::string served = bytes;
        peer = std::make_unique<FaultHttpServer>(
            [served, script](const std::string& request, int number) { return script(request, number, served); });
        url = peer->Url("/files/x.bin");
    }
    bool StartBadTls()
    {
        if (!tls.Start(base + "/tls", {{"self.test", "DNS:self.test", "self-signed"}})) return false;
        setenv("SSL_CERT_FILE", tls.CaFile().c_str(), 1);
        bytes = RandomBytes(5000, 17);
        WriteFile(tls.Root("self.test") + "/files/x.bin", bytes);
        url = tls.Url("self.test", "/files/x.bin");
        return true;
    }
};

struct Case {
    const char* name;
    std::string fault;
    std::function<bool(Rig&)> setup;
    bool completes;
    std::string log;
    std::function<void(Rig&)> check = nullptr;
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.fault;
}

std::vector<FaultMatrixRow> RowsOf(const std::vector<Case>& cases, int done, int failed, const std::string& done_what)
{
    std::vector<FaultMatrixRow> rows;
    for (const Case& c : cases)
        rows.push_back({c.fault, {c.completes, c.completes ? EventName(done) + ", " + done_what : EventName(failed),
                                  c.log}});
    return rows;
}

const size_t kSize = 200000;
const std::string kChain = "/moved/redirect/seeother/temporary/permanent/files/x.bin";

Rig::Script Correct()
{
    return [](const std::string& request, int, const std::string& bytes) { return Raw(Serve(request, bytes)); };
}
Rig::Script Always(const std::function<PeerAnswer(const std::string& request, const std::string& bytes)>& answer)
{
    return [answer](const std::string& request, int, const std::string& bytes) { return answer(request, bytes); };
}

// The faults both requests meet the same way: the first contact and the
// header. Each path adds its own rows and states its own outcomes.
struct Common {
    const char* name;
    std::string fault;
    std::function<bool(Rig&)> setup;
};
const std::vector<Common> kCommon = {
    {"Refused", "connection refused",
     [](Rig& rig) {
         rig.url = "http://127.0.0.1:" + std::to_string(RefusedPort()) + "/files/x.bin";
         return true;
     }},
    {"ResetAtAcceptOnce", "reset at accept, once",
     [](Rig& rig) {
         rig.OnPeer(kSize, Correct());
         rig.peer->ResetAtAccept(0, 1);
         return true;
     }},
    {"ResetAtAcceptAlways", "reset at accept, every attempt",
     [](Rig& rig) {
         rig.OnPeer(kSize, Correct());
         rig.peer->ResetAtAccept(0, 1000);
         return true;
     }},
    {"ResetMidHeader", "reset mid-header",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return ResetAfter(HeaderOf(Serve(request, bytes), 30));
                    }));
         return true;
     }},
    {"StallMidHeader", "stall mid-header (the idle limit fires)",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return StallAfter(HeaderOf(Serve(request, bytes), 30));
                    }));
         return true;
     }},
    {"LengthMissing", "Content-Length missing",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return Raw(WithLength(request, bytes, {}));
                    }));
         return true;
     }},
    {"LengthNegative", "Content-Length negative",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return Raw(WithLength(request, bytes, {"Content-Length: -5"}));
                    }));
         return true;
     }},
    {"LengthNotANumber", "Content-Length non-numeric",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return Raw(WithLength(request, bytes, {"Content-Length: 2e5"}));
                    }));
         return true;
     }},
    {"LengthTwice", "Content-Length duplicated with two values",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return Raw(WithLength(request, bytes,
                                              {"Content-Length: " + std::to_string(bytes.size()), "Content-Length: 10"}));
                    }));
         return true;
     }},
    {"LengthAbove63Bits", "Content-Length above 2^63",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return Raw(WithLength(request, bytes, {"Content-Length: 9223372036854775808"}));
                    }));
         return true;
     }},
    {"Chunked", "chunked answer (no Content-Length)",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return Raw(Chunked(request, bytes));
                    }));
         return true;
     }},
    {"RedirectChain", "301, 302, 303, 307, 308 chain (nginx, absolute Locations)",
     [](Rig& rig) { return rig.StartNginx(RedirectConfig(NginxProcess::FreePort()), kSize, kChain); }},
    {"RedirectLoop", "redirect loop (nginx)",
     [](Rig& rig) { return rig.StartNginx(RedirectConfig(NginxProcess::FreePort()), kSize, "/loop/x.bin"); }},
    {"RedirectRelative", "relative Location with ../ (nginx)",
     [](Rig& rig) { return rig.StartNginx(RedirectConfig(NginxProcess::FreePort()), kSize, "/rel/a/b/x.bin"); }},
    {"RedirectOtherPort", "Location to another port (nginx)",
     [](Rig& rig) {
         return rig.StartNginx(RedirectConfig(NginxProcess::FreePort()), kSize, "/otherport/files/x.bin");
     }},
    {"ServiceUnavailableOnce", "503 with Retry-After: 1 once, then the file",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int number, const std::string& bytes) {
             if (number > 0) return Raw(Serve(request, bytes));
             return Raw(Answer("503 Service Unavailable", {"Retry-After: 1", "Content-Length: 0"}));
         });
         return true;
     }},
    {"ServerErrorAlways", "500 with Retry-After: 1, every attempt",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string&, const std::string&) {
                        return Raw(Answer("500 Internal Server Error", {"Retry-After: 1", "Content-Length: 0"}));
                    }));
         return true;
     }},
    {"HugeHeaderLine", "a 1 MiB header line",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return Raw(Serve(request, bytes, {HugeHeaderLine()}));
                    }));
         return true;
     }},
    {"ManyHeaderLines", "10,000 header lines",
     [](Rig& rig) {
         rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                        return Raw(Serve(request, bytes, ManyHeaderLines()));
                    }));
         return true;
     }},
    {"BadCertificate", "HTTPS with a self-signed certificate", [](Rig& rig) { return rig.StartBadTls(); }},
};

// The common rows with this path's outcomes (name, completes, log), in the
// common order, then the path's own rows.
std::vector<Case> Cases(const std::vector<std::tuple<std::string, bool, std::string>>& outcomes,
                        const std::vector<Case>& own)
{
    std::vector<Case> cases;
    for (const auto& [name, completes, log] : outcomes) {
        for (const Common& common : kCommon)
            if (name == common.name) cases.push_back({common.name, common.fault, common.setup, completes, log});
    }
    cases.insert(cases.end(), own.begin(), own.end());
    return cases;
}

const std::string kProbeFailed = "[MeshpullLib] ContentLength Check Failed reason:";

const std::vector<Case> kSizeCheck = Cases(
    {
        {"Refused", false, "[MeshpullLib] ContentLength Check Failed reason:ConnectTimeout file:0"},
        {"ResetAtAcceptOnce", true, "[MeshpullLib] ContentLength Check Complete file:1"},
        {"ResetAtAcceptAlways", false, kProbeFailed},
        {"ResetMidHeader", false, kProbeFailed + "Closed file:0"},
        {"StallMidHeader", false, "[MeshpullLib] CLCS RT(file:0)"},
        {"LengthMissing", false, kProbeFailed + "NoLength file:0"},
        {"LengthNegative", false, kProbeFailed + "BadLength file:0"},
        {"LengthNotANumber", false, kProbeFailed + "BadLength file:0"},
        {"LengthTwice", false, kProbeFailed + "BadLength file:0"},
        {"LengthAbove63Bits", false, kProbeFailed + "BadLength file:0"},
        {"Chunked", false, kProbeFailed + "NoLength file:0"},
        {"RedirectChain", true, "[MeshpullLib] ContentLength Check Complete file:1"},
        {"RedirectLoop", false, kProbeFailed + "ResCode:302 file:0"},
        {"RedirectRelative", true, "[MeshpullLib] ContentLength Check Complete file:1"},
        {"RedirectOtherPort", true, "[MeshpullLib] ContentLength Check Complete file:1"},
        {"ServiceUnavailableOnce", true, "[MeshpullLib] ContentLength Check Complete file:1"},
        {"ServerErrorAlways", false, kProbeFailed + "ResCode:500 file:0"},
        {"HugeHeaderLine", false, kProbeFailed + "Closed file:0"},
        {"ManyHeaderLines", false, kProbeFailed + "Closed file:0"},
        {"BadCertificate", false, "TLS certificate of self.test not accepted: verify result"},
    },
    {});

const std::string kFetchFailed = "[MeshpullLib] Data Download Failed reason:";

const std::vector<Case> kFetch = Cases(
    {
        {"Refused", false, kFetchFailed + "3 url:http://127.0.0.1:"},
        {"ResetAtAcceptAlways", false, kFetchFailed},
        {"ResetMidHeader", false, kFetchFailed + "6 url:"},
        {"StallMidHeader", false, kFetchFailed + "5 url:"},
        {"LengthMissing", false, kFetchFailed + "4 url:"},
        {"LengthNegative", false, kFetchFailed + "4 url:"},
        {"LengthNotANumber", false, kFetchFailed + "4 url:"},
        {"LengthTwice", false, kFetchFailed + "4 url:"},
        {"LengthAbove63Bits", false, kFetchFailed + "4 url:"},
        {"Chunked", true, ""},
        {"RedirectChain", true, ""},
        {"RedirectLoop", false, kFetchFailed + "4 url:"},
        {"RedirectRelative", true, ""},
        {"RedirectOtherPort", true, ""},
        {"ServerErrorAlways", false, kFetchFailed + "4 url:"},
        {"HugeHeaderLine", false, kFetchFailed + "6 url:"},
        {"ManyHeaderLines", false, kFetchFailed + "6 url:"},
        {"BadCertificate", false, "TLS certificate of self.test not accepted: verify result"},
    },
    {
        {"StallMidBody", "stall mid-body (the 4 s idle limit fires)",
         [](Rig& rig) {
             rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                            const std::string answer = Serve(request, bytes);
                            return StallAfter(answer.substr(0, answer.find("\r\n\r\n") + 4 + 1000));
                        }));
             return true;
         },
         false, kFetchFailed + "5 url:"},
        {"CloseMidBody", "close mid-body",
         [](Rig& rig) {
             rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                            PeerAnswer answer{Serve(request, bytes)};
                            answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 1000;
                            return answer;
                        }));
             return true;
         },
         false, kFetchFailed + "6 url:"},
        {"ChunkedMany", "chunked answer in 1000-byte chunks with extensions and trailer fields",
         [](Rig& rig) {
             rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                            return Raw(Chunked(request, bytes, 1000, ";part=1", "Digest: x\r\n"));
                        }));
             return true;
         },
         true, ""},
        {"ChunkCut", "chunked answer cut inside a chunk",
         [](Rig& rig) {
             rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                            PeerAnswer answer{Chunked(request, bytes, 1000)};
                            answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100 * 1007 + 5 + 500;
                            return answer;
                        }));
             return true;
         },
         false, kFetchFailed + "6 url:"},
        {"ChunkEndMissing", "chunked answer with every byte but without its last chunk",
         [](Rig& rig) {
             rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                            PeerAnswer answer{Chunked(request, bytes, 1000)};
                            answer.cutAfter = answer.bytes.size() - std::string("0\r\n\r\n").size();
                            return answer;
                        }));
             return true;
         },
         false, kFetchFailed + "6 url:"},
        {"ChunkBroken", "chunked answer with a chunk longer than its size line",
         [](Rig& rig) {
             rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                            std::string answer = Chunked(request, bytes, 1000);
                            const size_t third = answer.find("\r\n\r\n") + 4 + 2 * 1007;
                            return Raw(answer.replace(third, 3, "3e7"));
                        }));
             return true;
         },
         false, kFetchFailed + "4 url:"},
        {"BodyLongerThanLength", "body longer than Content-Length",
         [](Rig& rig) {
             rig.OnPeer(kSize, Always([](const std::string& request, const std::string& bytes) {
                            return Raw(Serve(request, bytes) + std::string(5000, 'X'));
                        }));
             return true;
         },
         true, ""},
        {"ServiceUnavailable", "503 with Retry-After: 1 (a fetch is not retried)",
         [](Rig& rig) {
             rig.OnPeer(kSize, Always([](const std::string&, const std::string&) {
                            return Raw(Answer("503 Service Unavailable", {"Retry-After: 1", "Content-Length: 0"}));
                        }));
             return true;
         },
         false, kFetchFailed + "4 url:", [](Rig& rig) { EXPECT_EQ(rig.peer->Requests().size(), 1u); }},
        {"HostWithPort", "server on a port other than 80: the request's Host names the port",
         [](Rig& rig) {
             rig.OnPeer(kSize, Correct());
             return true;
         },
         true, "",
         [](Rig& rig) {
             const std::string host = "\r\nHost: 127.0.0.1:" + std::to_string(rig.peer->Port()) + "\r\n";
             const auto requests = rig.peer->Requests();
             ASSERT_FALSE(requests.empty());
             for (const auto& request : requests) EXPECT_NE(request.text.find(host), std::string::npos);
         }},
    });

const FaultMatrixTable kSizeCheckTable("3. Service size check (DlStartSizeCheck, CContentLengthChecker)",
                                       RowsOf(kSizeCheck, DL_EVENT_SIZE_CHECK_DONE, DL_EVENT_SIZE_CHECK_FAILED,
                                              "DlGetSizeCheckTotal = the server's length"));
const FaultMatrixTable kFetchTable("4. File-list fetch (DlFetchData, CDataDownloadSession)",
                                   RowsOf(kFetch, DL_EVENT_FETCH_DONE, DL_EVENT_FETCH_FAILED,
                                          "DlGetFetchedData = the server's bytes"));

class FaultMatrixService : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        setenv("ZDR_NO_ENGINE", "1", 1);
        rig.base = std::string(getenv("HOME")) + "/fault-" + GetParam().name;
        std::filesystem::remove_all(rig.base);
        SetConnectivityCheckForTesting(&Connected);
        cpSetResolverForTesting(&ResolveTestNames);
        LogReset();
        ASSERT_EQ(DlInitialize(nullptr, &ServiceEvents::Callback, &events), DL_OK);
    }
    void TearDown() override
    {
        DlFinalize();
        SetConnectivityCheckForTesting(nullptr);
        cpSetResolverForTesting(nullptr);
        unsetenv("SSL_CERT_FILE");
    }

    Rig rig;
    ServiceEvents events;
};

class FaultMatrixSizeCheck : public FaultMatrixService {};
class FaultMatrixFetch : public FaultMatrixService {};

std::string NameOf(const testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

} // namespace

TEST_P(FaultMatrixSizeCheck, Row)
{
    const Case& c = GetParam();
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(c.setup(rig));
    ASSERT_EQ(DlAddSizeCheckUrl(rig.url.c_str()), DL_OK);
    ASSERT_EQ(DlStartSizeCheck(), DL_OK);
    const int code = events.WaitForOneOf({DL_EVENT_SIZE_CHECK_DONE, DL_EVENT_SIZE_CHECK_FAILED});
    EXPECT_EQ(code, c.completes ? DL_EVENT_SIZE_CHECK_DONE : DL_EVENT_SIZE_CHECK_FAILED) << ReadLog();
    if (c.completes) {
        long long total = -1;
        EXPECT_EQ(DlGetSizeCheckTotal(&total), DL_OK);
        EXPECT_EQ(total, static_cast<long long>(rig.bytes.size()));
    }
    const std::string log = ReadLog();
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
    if (c.check) c.check(rig);
}

TEST_P(FaultMatrixFetch, Row)
{
    const Case& c = GetParam();
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(c.setup(rig));
    ASSERT_EQ(DlFetchData(rig.url.c_str()), DL_OK);
    const int code = events.WaitForOneOf({DL_EVENT_FETCH_DONE, DL_EVENT_FETCH_FAILED});
    EXPECT_EQ(code, c.completes ? DL_EVENT_FETCH_DONE : DL_EVENT_FETCH_FAILED) << ReadLog();
    long long size = -1;
    if (c.completes) {
        ASSERT_EQ(DlGetFetchedSize(&size), DL_OK);
        ASSERT_EQ(size, static_cast<long long>(rig.bytes.size()));
        std::string body(static_cast<size_t>(size), '\0');
        DlDataBuffer buffer{body.data(), size};
        EXPECT_EQ(DlGetFetchedData(&buffer), DL_OK);
        EXPECT_TRUE(body == rig.bytes);
    } else {
        // Nothing half-fetched is offered as the list.
        EXPECT_EQ(DlGetFetchedSize(&size), DL_ERR_GENERAL);
    }
    // A fetch ends once: no second verdict follows.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(events.Count(DL_EVENT_FETCH_DONE) + events.Count(DL_EVENT_FETCH_FAILED), 0);
    const std::string log = ReadLog();
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
    if (c.check) c.check(rig);
}

INSTANTIATE_TEST_SUITE_P(Service, FaultMatrixSizeCheck, testing::ValuesIn(kSizeCheck), NameOf);
INSTANTIATE_TEST_SUITE_P(Fetch, FaultMatrixFetch, testing::ValuesIn(kFetch), NameOf);
