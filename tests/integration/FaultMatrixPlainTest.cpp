// The fault matrix of a plain job: the transfer (CPlatformSession) and the
// job's size check that runs before it (CPlatformFileSizeChecker), each
// driven as a front end drives it, through the service interface with the
// engine downloader off, against real nginx where nginx makes the fault and
// the scripted peer where it does not. Each row states what the user must
// see; the same rows are checked here and written to docs/FAULT-MATRIX.md.
//
// Every row, besides its own outcome: a file under its final name is
// byte-identical to the server's and was reported done (and only such a
// file was), the job completes only when every file is there, the activity
// log holds the row's line, and nothing new appears beside the chosen
// folder.

#include "AgentServerProcess.h"
#include "FaultMatrix.h"
#include "FaultRig.h"
#include "JobNotices.h"
#include "LoopbackSockets.h"
#include "NginxProcess.h"
#include "ServiceEvents.h"
#include "TestFiles.h"
#include "netlib/runtime/cpResolver.h"
#include "platform/Connectivity.h"
#include "service/CPartFileRecord.h"
#include "service/DlApi.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <set>
#include <memory>
#include <string>
#include <vector>

namespace {

using PeerAnswer = FaultHttpServer::Answer;
using namespace fault;

bool Connected()
{
    return true;
}

struct ServedFile {
    std::string name;
    std::string bytes;
    std::string url;
};

// One row's world: its servers, the chosen folder and the files the job asks
// for. The chosen folder's parent must hold nothing new after the row.
struct Rig {
    typedef std::function<PeerAnswer(const std::string& request, int number, const std::string& bytes)> Script;

    std::string base;
    std::string parent;
    std::string folder; // the chosen folder, with its '/'
    std::vector<ServedFile> files;
    std::atomic<int> transfers{0};
    NginxProcess nginx;
    NginxProcess tls;
    std::unique_ptr<FaultHttpServer> peer;
    std::vector<std::unique_ptr<fault::TmpfsMount>> mounts;

    bool StartNginx(const std::string& config = "")
    {
        nginx.AddServerConfig(config);
        return nginx.Start(base + "/nginx");
    }
    // A file nginx keeps under /files/name, asked for at path.
    const ServedFile& OnNginx(const std::string& name, size_t size, const std::string& path)
    {
        const std::string bytes = RandomBytes(size, static_cast<unsigned>(size + name.size()));
        WriteFile(nginx.Root() + "/files/" + name, bytes);
        files.push_back({name, bytes, nginx.Url(path)});
        return files.back();
    }
    // A file of the scripted peer; every request is answered by the script.
    void OnPeer(size_t size, Script script)
    {
        const std::string bytes = RandomBytes(size, 7);
        peer = std::make_unique<FaultHttpServer>(
            [bytes, script](const std::string& request, int number) { return script(request, number, bytes); });
        files.push_back({"peer.bin", bytes, peer->Url("/files/peer.bin")});
    }
    // As OnPeer, but the size check's probes (the requests without a range)
    // get the file as a correct server gives it: the script answers only the
    // transfer's requests, numbered from 0.
    void OnPeerTransfer(size_t size, Script script)
    {
        OnPeer(size, [this, script](const std::string& request, int, const std::string& bytes) {
            if (fault::RangeStart(request) < 0) return PeerAnswer{fault::Serve(request, bytes)};
            return script(request, transfers++, bytes);
        });
    }
    bool Mount(const std::string& options, bool readOnly)
    {
        mounts.push_back(std::make_unique<fault::TmpfsMount>());
        return mounts.back()->Mount(folder, options, readOnly);
    }
};

struct Case {
    const char* name; // the test's name
    std::string fault;
    std::function<bool(Rig&)> setup; // false: the row's world could not be made
    // The notices the job ends with, in order; none: it completes.
    std::vector<int> notices;
    std::string log;
    // More that the row must show (requests the servers saw...).
    std::function<void(Rig&)> check = nullptr;
    // DL_ERR_FOLDER: the folder is refused when the file is added.
    int addResult = DL_OK;
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.fault;
}

FaultMatrixRow RowOf(const Case& c)
{
    FaultMatrixRow row;
    row.fault = c.fault;
    row.outcome.completes = c.notices.empty() && c.addResult == DL_OK;
    if (c.addResult != DL_OK) {
        row.outcome.signal = "DlAddJobFile answers " + std::to_string(c.addResult) + ", " +
                             fault::EventName(DL_EVENT_DOWNLOAD_PATH_FAILED);
    } else if (row.outcome.completes) {
        row.outcome.signal = fault::EventName(DL_EVENT_JOB_COMPLETE);
    } else {
        std::vector<std::string> names;
        for (int code : c.notices) names.push_back(fault::NoticeName(code));
        row.outcome.signal = fault::Join(names) + "; no event 516";
    }
    row.outcome.log = c.log;
    return row;
}

std::vector<FaultMatrixRow> RowsOf(const std::vector<Case>& cases)
{
    std::vector<FaultMatrixRow> rows;
    for (const Case& c : cases) rows.push_back(RowOf(c));
    return rows;
}

const size_t kSize = 300000;
const std::string kChain = "/moved/redirect/seeother/temporary/permanent/files/x.bin";

// Rows where the fault is only the transfer's: the size check before it is
// answered correctly.
const std::vector<Case> kTransfer = {
    {"RefusedAfterTheSizeCheck", "connection refused (the server went away after the size check)",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string&, int, const std::string&) { return Raw(""); });
         rig.peer->StopListeningAfter(1);
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] TryMax Over : "},
    {"RefusedFirstAlternative", "connection refused by the first alternative, the second serves",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(fault::Serve(request, bytes));
         });
         rig.files.back().url = "http://127.0.0.1:" + std::to_string(RefusedPort()) + "/x.bin|" +
                                rig.files.back().url;
         return true;
     },
     {}, "[MeshpullLib] Transfer Attempt Failed reason:ConnectTimeout try:3 url:http://127.0.0.1:"},
    {"ResetAtAcceptOnce", "reset at accept, once",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(fault::Serve(request, bytes));
         });
         rig.peer->ResetAtAccept(1, 1);
         return true;
     },
     // "Closed", or "ConnectTimeout" when the reset comes before the connect
     // is seen (a connect error other than refused waits for the 3 s limit).
     {}, "[MeshpullLib] Transfer Attempt Failed reason:"},
    {"ResetAtAcceptAlways", "reset at accept, every attempt",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string&, int, const std::string&) { return Raw(""); });
         rig.peer->ResetAtAccept(1, 1000);
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] TryMax Over : "},
    {"ResetMidHeader", "reset mid-header, every attempt",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return ResetAfter(HeaderOf(fault::Serve(request, bytes), 30));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:Closed try:3"},
    {"StallMidHeader", "stall mid-header, every attempt (3 s idle limit)",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return StallAfter(HeaderOf(fault::Serve(request, bytes), 30));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:RecvTimeout try:3"},
    {"StallMidBodyOnce", "stall mid-body once (3 s idle limit), then resumed",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int number, const std::string& bytes) {
             const std::string answer = fault::Serve(request, bytes);
             if (number > 0) return Raw(answer);
             return StallAfter(answer.substr(0, answer.find("\r\n\r\n") + 4 + kSize / 2));
         });
         return true;
     },
     {}, "[MeshpullLib] Transfer Attempt Failed reason:RecvTimeout try:1",
     [](Rig& rig) {
         const auto requests = rig.peer->Requests();
         ASSERT_EQ(requests.size(), 3u);
         EXPECT_EQ(FaultHttpServer::Header(requests[2].text, "Range"), "bytes=" + std::to_string(kSize / 2) + "-");
         EXPECT_EQ(FaultHttpServer::Header(requests[2].text, "If-Range"), "\"fault-1\"");
     }},
    {"CloseMidBodyOnce", "close mid-body once, then resumed",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int number, const std::string& bytes) {
             PeerAnswer answer{fault::Serve(request, bytes)};
             if (number == 0) answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100000;
             return answer;
         });
         return true;
     },
     {}, "[MeshpullLib] Transfer Attempt Failed reason:Closed try:1",
     [](Rig& rig) {
         const auto requests = rig.peer->Requests();
         ASSERT_EQ(requests.size(), 3u);
         EXPECT_EQ(FaultHttpServer::Header(requests[2].text, "Range"), "bytes=100000-");
     }},
    {"CloseMidBodyAlways", "close mid-body, every attempt",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             PeerAnswer answer{fault::Serve(request, bytes)};
             answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 1000;
             return answer;
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] TryMax Over : "},
    {"BodyLongerThanLength", "body longer than Content-Length",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(fault::Serve(request, bytes) + std::string(5000, 'X'));
         });
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed"},
    {"LengthMissing", "Content-Length missing (connection close ends the body)",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:NoLength try:3"},
    {"LengthNegative", "Content-Length negative",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {"Content-Length: -5"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Bad Content-Length : "},
    {"LengthNotANumber", "Content-Length non-numeric",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {"Content-Length: 3e5"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:BadLength try:3"},
    {"LengthTwice", "Content-Length duplicated with two values",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             const std::string length = std::to_string(bytes.size() - std::max(0LL, fault::RangeStart(request)));
             return Raw(WithLength(request, bytes, {"Content-Length: " + length, "Content-Length: 10"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Bad Content-Length : "},
    {"LengthAbove63Bits", "Content-Length above 2^63",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {"Content-Length: 9223372036854775808"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Bad Content-Length : "},
    {"Chunked", "chunked answer (no Content-Length)",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(Chunked(request, bytes));
         });
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed",
     [](Rig& rig) { EXPECT_EQ(rig.transfers.load(), 1); }},
    {"ChunkedMany", "chunked answer in 1000-byte chunks with extensions and trailer fields",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(Chunked(request, bytes, 1000, ";part=\"a;b\"", "Digest: x\r\nExpires: 0\r\n"));
         });
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed",
     [](Rig& rig) { EXPECT_EQ(rig.transfers.load(), 1); }},
    {"ChunkCutOnce", "chunked answer cut inside a chunk once, then resumed",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int number, const std::string& bytes) {
             PeerAnswer answer{Chunked(request, bytes, 1000)};
             // 100 whole chunks of 1007 bytes framed, then 500 of the next.
             if (number == 0) answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 100 * 1007 + 5 + 500;
             return answer;
         });
         return true;
     },
     {}, "[MeshpullLib] Transfer Attempt Failed reason:Closed try:1",
     [](Rig& rig) {
         const auto requests = rig.peer->Requests();
         ASSERT_EQ(requests.size(), 3u);
         EXPECT_EQ(FaultHttpServer::Header(requests[2].text, "Range"), "bytes=100500-");
     }},
    {"ChunkCutAlways", "chunked answer cut inside a chunk, every attempt",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             PeerAnswer answer{Chunked(request, bytes, 1000)};
             answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 5000;
             return answer;
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:Closed try:3"},
    {"ChunkEndMissing", "chunked answer with every byte but without its last chunk, every attempt (no validator)",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             if (RangeStart(request) >= static_cast<long long>(bytes.size()))
                 return Raw(fault::Answer("416 Range Not Satisfiable",
                                          {"Content-Range: bytes */" + std::to_string(bytes.size()), "Content-Length: 0"}));
             PeerAnswer answer{Chunked(request, bytes, 1000)};
             answer.cutAfter = answer.bytes.size() - std::string("0\r\n\r\n").size();
             return answer;
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:Closed try:3"},
    {"ChunkBroken", "chunked answer with a chunk longer than its size line, every attempt",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             std::string answer = Chunked(request, bytes, 1000);
             // The third chunk's size line says 999 for its 1000 bytes.
             const size_t third = answer.find("\r\n\r\n") + 4 + 2 * 1007;
             return Raw(answer.replace(third, 3, "3e7"));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:BadChunk try:3"},
    {"ChunkedLongerThanRange", "chunked answer with a chunk more than the range it covers, every attempt",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             std::string answer = Chunked(request, bytes, 1000);
             return Raw(answer.insert(answer.size() - std::string("0\r\n\r\n").size(), Chunk("extra")));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:LongBody try:3"},
    {"Credentials", "user:password@host URL, 401 without them; the first attempt cut (logged without them)",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int number, const std::string& bytes) {
             if (FaultHttpServer::Header(request, "Authorization") != "Basic emRyOnBAc3Mvdw==")
                 return Raw(fault::Answer("401 Unauthorized", {"WWW-Authenticate: Basic realm=\"zdr\"", "Content-Length: 0"}));
             PeerAnswer answer{fault::Serve(request, bytes)};
             if (number == 1) answer.cutAfter = answer.bytes.find("\r\n\r\n") + 4 + 1000;
             return answer;
         });
         rig.files.back().url.insert(std::string("http://").size(), "zdr:p%40ss%2Fw@");
         return true;
     },
     {}, "[MeshpullLib] Transfer Attempt Failed reason:Closed try:1 url:http://127.0.0.1:",
     [](Rig& rig) {
         EXPECT_EQ(rig.peer->Requests().size(), 3u);
         const std::string log = ReadLog();
         EXPECT_EQ(log.find("p%40ss"), std::string::npos) << log;
         EXPECT_EQ(log.find("zdr:"), std::string::npos) << log;
     }},
    {"OtherCoding", "gzip transfer coding",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             std::string answer = fault::Serve(request, bytes);
             return Raw(answer.insert(answer.find("\r\n") + 2, "Transfer-Encoding: gzip\r\n"));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:Coding try:3"},
    {"LengthOtherThanChecked", "200 with Content-Length 0 (the size check found 300000 bytes)",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string&, int, const std::string&) {
             return Raw(fault::Answer("200 OK", {"Content-Length: 0"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:OtherSize try:3"},
    {"TotalOtherThanChecked", "206 claiming a total of 4 GiB (the size check found 300000 bytes)",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             std::string answer = fault::Serve(request, bytes);
             const std::string total = "/" + std::to_string(bytes.size()) + "\r\n";
             return Raw(answer.replace(answer.find(total), total.size(), "/4294967296\r\n"));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:OtherSize try:3"},
    {"WholeFileForARange", "200 to a Range request (nginx max_ranges 0) for a resumable part",
     [](Rig& rig) {
         if (!rig.StartNginx("    max_ranges 0;\n")) return false;
         const ServedFile& file = rig.OnNginx("x.bin", kSize, "/files/x.bin");
         WriteFile(rig.folder + "x.bin.part", file.bytes.substr(0, 1000));
         return CPartFileRecord{file.url, static_cast<int64_t>(kSize), NginxProcess::Etag(rig.nginx.Root() + "/files/x.bin")}
             .Save(rig.folder + "x.bin.part");
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed",
     [](Rig& rig) {
         const std::string line = "\"GET /files/x.bin HTTP/1.1\" 200 " + std::to_string(kSize);
         EXPECT_NE(rig.nginx.AccessLogWith(line, 1).find(line), std::string::npos) << rig.nginx.AccessLog();
     }},
    {"WrongContentRange", "206 with a wrong Content-Range, every attempt",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string&, int, const std::string& bytes) {
             return Raw(fault::Answer("206 Partial Content",
                                      {"Content-Length: " + std::to_string(bytes.size() - 5),
                                       "Content-Range: bytes 5-" + std::to_string(bytes.size() - 1) + "/" +
                                           std::to_string(bytes.size())},
                                      bytes.substr(5)));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:BadRange try:3"},
    {"RangeNotSatisfiableWhole", "416 (nginx) for a part that is already the whole file",
     [](Rig& rig) {
         if (!rig.StartNginx()) return false;
         const ServedFile& file = rig.OnNginx("x.bin", kSize, "/files/x.bin");
         WriteFile(rig.folder + "x.bin.part", file.bytes);
         return CPartFileRecord{file.url, static_cast<int64_t>(kSize), NginxProcess::Etag(rig.nginx.Root() + "/files/x.bin")}
             .Save(rig.folder + "x.bin.part");
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed",
     [](Rig& rig) {
         const std::string line = "\"GET /files/x.bin HTTP/1.1\" 416 ";
         EXPECT_NE(rig.nginx.AccessLogWith(line, 1).find(line), std::string::npos) << rig.nginx.AccessLog();
     }},
    {"RangeNotSatisfiableFromZero", "416 to a request from offset 0, then the file",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int number, const std::string& bytes) {
             if (number > 0) return Raw(fault::Serve(request, bytes));
             return Raw(fault::Answer("416 Range Not Satisfiable",
                                      {"Content-Range: bytes */" + std::to_string(bytes.size()), "Content-Length: 0"}));
         });
         return true;
     },
     {}, "[MeshpullLib] Transfer Attempt Failed reason:ResCode:416 try:1"},
    {"RedirectChain", "301, 302, 303, 307, 308 chain (nginx, absolute Locations)",
     [](Rig& rig) {
         if (!rig.StartNginx(RedirectConfig(NginxProcess::FreePort()))) return false;
         rig.OnNginx("x.bin", kSize, kChain);
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed",
     [](Rig& rig) {
         const std::string line = "\"GET /permanent/files/x.bin HTTP/1.1\" 308";
         EXPECT_NE(rig.nginx.AccessLogWith(line, 1).find(line), std::string::npos) << rig.nginx.AccessLog();
     }},
    {"RedirectLoop", "redirect loop (nginx; the transfer's requests only)",
     [](Rig& rig) {
         if (!rig.StartNginx(RedirectConfig(NginxProcess::FreePort()))) return false;
         rig.OnNginx("x.bin", kSize, "/rangeloop/files/x.bin");
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:TooManyRedirects"},
    {"RedirectRelative", "relative Location with ../ (nginx)",
     [](Rig& rig) {
         if (!rig.StartNginx(RedirectConfig(NginxProcess::FreePort()))) return false;
         rig.OnNginx("x.bin", kSize, "/rel/a/b/x.bin");
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed",
     [](Rig& rig) {
         // The client resolved the dots itself.
         EXPECT_EQ(rig.nginx.AccessLog().find("/../"), std::string::npos) << rig.nginx.AccessLog();
     }},
    {"RedirectOtherPort", "Location to another port (nginx)",
     [](Rig& rig) {
         const uint16_t other = NginxProcess::FreePort();
         if (!rig.StartNginx(RedirectConfig(other))) return false;
         rig.OnNginx("x.bin", kSize, "/otherport/files/x.bin");
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed"},
    {"RetryAfterHonoured", "503 with Retry-After: 2 once, then the file",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int number, const std::string& bytes) {
             if (number > 0) return Raw(fault::Serve(request, bytes));
             return Raw(fault::Answer("503 Service Unavailable", {"Retry-After: 2", "Content-Length: 0"}));
         });
         return true;
     },
     {}, "[MeshpullLib] Transfer Attempt Failed reason:ResCode:503 try:1",
     [](Rig& rig) {
         const auto requests = rig.peer->Requests();
         ASSERT_EQ(requests.size(), 3u);
         EXPECT_GE(requests[2].at - requests[1].at, 1.9); // not the 1 s of its own back-off
     }},
    {"ServerErrorAlways", "500 with Retry-After: 1, every attempt",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string&, int, const std::string&) {
             return Raw(fault::Answer("500 Internal Server Error", {"Retry-After: 1", "Content-Length: 0"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] Transfer Attempt Failed reason:ResCode:500 try:3"},
    {"HugeHeaderLine", "a 1 MiB header line",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(fault::Serve(request, bytes, {fault::HugeHeaderLine()}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] TryMax Over : "},
    {"ManyHeaderLines", "10,000 header lines",
     [](Rig& rig) {
         rig.OnPeerTransfer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(fault::Serve(request, bytes, fault::ManyHeaderLines()));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] TryMax Over : "},
    {"DiskFullDuringTheWrite", "full disk during the write (tmpfs of 1 MiB, two files of 700 KiB)",
     [](Rig& rig) {
         if (!rig.StartNginx() || !rig.Mount("size=1m", false)) return false;
         rig.OnNginx("a.bin", 700 << 10, "/files/a.bin");
         rig.OnNginx("b.bin", 700 << 10, "/files/b.bin");
         return true;
     },
     {DL_NOTICE_DISK_FULL, DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] WriteFile Failed(28) : ",
     [](Rig& rig) { EXPECT_TRUE(ReadFile(rig.folder + "a.bin") == rig.files[0].bytes); }},
    {"ReadOnlyFolder", "read-only folder (a read-only tmpfs: root is refused too)",
     [](Rig& rig) {
         if (!rig.StartNginx() || !rig.Mount("size=1m", true)) return false;
         rig.OnNginx("x.bin", 5000, "/files/x.bin");
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] CreateFile Failed(30) : "},
    {"FolderIsAFile", "the chosen folder is a file",
     [](Rig& rig) {
         if (!rig.StartNginx()) return false;
         rig.OnNginx("x.bin", 5000, "/files/x.bin");
         WriteFile(rig.folder.substr(0, rig.folder.size() - 1), "a file");
         return true;
     },
     {}, "[MeshpullLib] download path access failed", nullptr, DL_ERR_FOLDER},
    {"BadCertificateAfterRedirect", "HTTPS with a self-signed certificate (the transfer is sent there)",
     [](Rig& rig) {
         if (!rig.tls.Start(rig.base + "/tls", {{"self.test", "DNS:self.test", "self-signed"}})) return false;
         setenv("SSL_CERT_FILE", rig.tls.CaFile().c_str(), 1);
         WriteFile(rig.tls.Root("self.test") + "/files/x.bin", RandomBytes(kSize, 9));
         const std::string target = rig.tls.Url("self.test", "/files/x.bin");
         if (!rig.StartNginx("    location ~ ^/tls(/.*)$ { if ($http_range) { return 302 " + target +
                             "; } rewrite ^/tls(/.*)$ $1 break; }\n"))
             return false;
         rig.OnNginx("x.bin", kSize, "/tls/files/x.bin");
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "TLS certificate of self.test not accepted: verify result"},
};

// Rows where the fault meets the job's size check, the job's first contact
// with the server: a probe that cannot size the file ends the job before any
// transfer.
const std::vector<Case> kSizeCheck = {
    {"Refused", "connection refused",
     [](Rig& rig) {
         rig.files.push_back({"x.bin", "", "http://127.0.0.1:" + std::to_string(RefusedPort()) + "/x.bin"});
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:ConnectTimeout url:http://127.0.0.1:"},
    {"ResetAtAcceptOnce", "reset at accept, once",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(fault::Serve(request, bytes));
         });
         rig.peer->ResetAtAccept(0, 1);
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed"},
    {"ResetAtAcceptAlways", "reset at accept, every attempt",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string&, int, const std::string&) { return Raw(""); });
         rig.peer->ResetAtAccept(0, 1000);
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:"},
    {"ResetMidHeader", "reset mid-header, every attempt",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return ResetAfter(HeaderOf(fault::Serve(request, bytes), 30));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:Closed"},
    {"StallMidHeader", "stall mid-header, every attempt (3 s idle limit)",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return StallAfter(HeaderOf(fault::Serve(request, bytes), 30));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:RecvTimeout"},
    {"LengthMissing", "Content-Length missing",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:NoLength"},
    {"LengthNegative", "Content-Length negative",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {"Content-Length: -5"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:BadLength"},
    {"LengthNotANumber", "Content-Length non-numeric",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {"Content-Length: 3e5"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:BadLength"},
    {"LengthTwice", "Content-Length duplicated with two values",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {"Content-Length: " + std::to_string(bytes.size()), "Content-Length: 10"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:BadLength"},
    {"LengthAbove63Bits", "Content-Length above 2^63",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(WithLength(request, bytes, {"Content-Length: 9223372036854775808"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:BadLength"},
    {"Chunked", "chunked answer (no Content-Length)",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(Chunked(request, bytes));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:NoLength"},
    {"RedirectChain", "301, 302, 303, 307, 308 chain (nginx, absolute Locations)",
     [](Rig& rig) {
         if (!rig.StartNginx(RedirectConfig(NginxProcess::FreePort()))) return false;
         rig.OnNginx("x.bin", kSize, kChain);
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed"},
    {"RedirectLoop", "redirect loop (nginx)",
     [](Rig& rig) {
         if (!rig.StartNginx(RedirectConfig(NginxProcess::FreePort()))) return false;
         rig.OnNginx("x.bin", kSize, "/loop/x.bin");
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:TooManyRedirects"},
    {"RedirectRelative", "relative Location with ../ (nginx)",
     [](Rig& rig) {
         if (!rig.StartNginx(RedirectConfig(NginxProcess::FreePort()))) return false;
         rig.OnNginx("x.bin", kSize, "/rel/a/b/x.bin");
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed"},
    {"RedirectOtherPort", "Location to another port (nginx)",
     [](Rig& rig) {
         if (!rig.StartNginx(RedirectConfig(NginxProcess::FreePort()))) return false;
         rig.OnNginx("x.bin", kSize, "/otherport/files/x.bin");
         return true;
     },
     {}, "[MeshpullLib] CPlatFormDownloader FileSizeCheck Completed"},
    {"ServiceUnavailable", "503 with Retry-After: 1 (fails at once: no other status is retried)",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string&, int, const std::string&) {
             return Raw(fault::Answer("503 Service Unavailable", {"Retry-After: 1", "Content-Length: 0"}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:ResCode:503",
     [](Rig& rig) { EXPECT_EQ(rig.peer->Requests().size(), 1u); }},
    {"HugeHeaderLine", "a 1 MiB header line",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(fault::Serve(request, bytes, {fault::HugeHeaderLine()}));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:Closed"},
    {"ManyHeaderLines", "10,000 header lines",
     [](Rig& rig) {
         rig.OnPeer(kSize, [](const std::string& request, int, const std::string& bytes) {
             return Raw(fault::Serve(request, bytes, fault::ManyHeaderLines()));
         });
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "[MeshpullLib] FileSize Check Failed(517) reason:Closed"},
    {"LargerThanTheDisk", "file larger than the folder's free space (tmpfs of 1 MiB)",
     [](Rig& rig) {
         if (!rig.StartNginx() || !rig.Mount("size=1m", false)) return false;
         rig.OnNginx("x.bin", 2 << 20, "/files/x.bin");
         return true;
     },
     {DL_NOTICE_DISK_FULL}, "[MeshpullLib] FileSize Check Failed(513) reason:NoRoom"},
    {"BadCertificate", "HTTPS with a self-signed certificate",
     [](Rig& rig) {
         if (!rig.tls.Start(rig.base + "/tls", {{"self.test", "DNS:self.test", "self-signed"}})) return false;
         setenv("SSL_CERT_FILE", rig.tls.CaFile().c_str(), 1);
         WriteFile(rig.tls.Root("self.test") + "/files/x.bin", RandomBytes(kSize, 9));
         rig.files.push_back({"x.bin", "", rig.tls.Url("self.test", "/files/x.bin")});
         return true;
     },
     {DL_NOTICE_DOWNLOAD_FAILED}, "TLS certificate of self.test not accepted: verify result"},
};

const FaultMatrixTable kTransferTable("1. Plain transfer (CPlatformSession, through Dl)", RowsOf(kTransfer));
const FaultMatrixTable kSizeCheckTable("2. Job size check (CPlatformFileSizeChecker)", RowsOf(kSizeCheck));

class FaultMatrixPlain : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        setenv("ZDR_NO_ENGINE", "1", 1);
        rig.base = std::string(getenv("HOME")) + "/fault-" + GetParam().name;
        std::filesystem::remove_all(rig.base);
        rig.parent = rig.base + "/parent";
        rig.folder = rig.parent + "/chosen/";
        std::filesystem::create_directories(rig.parent);
        ASSERT_TRUE(agent.Start(rig.base + "/reports.jsonl"));
        setenv("ZDR_AGENT_HOST", ("127.0.0.1:" + std::to_string(agent.Port())).c_str(), 1);
        SetConnectivityCheckForTesting(&Connected);
        cpSetResolverForTesting(&fault::ResolveTestNames);
        LogReset();
        ASSERT_EQ(DlInitialize(nullptr, &ServiceEvents::Callback, &events), DL_OK);
    }
    void TearDown() override
    {
        DlFinalize();
        SetConnectivityCheckForTesting(nullptr);
        cpSetResolverForTesting(nullptr);
        unsetenv("ZDR_AGENT_HOST");
        unsetenv("SSL_CERT_FILE");
        agent.Stop();
    }
    std::vector<int> NoticeCodes(int job)
    {
        std::vector<int> codes;
        for (const JobNotice& notice : PopNotices(job)) {
            codes.push_back(notice.code);
            EXPECT_FALSE(notice.text.empty()) << "a notice names its URL or path";
        }
        return codes;
    }

    Rig rig;
    AgentServerProcess agent;
    ServiceEvents events;
};

std::string NameOf(const testing::TestParamInfo<Case>& info)
{
    return info.param.name;
}

} // namespace

TEST_P(FaultMatrixPlain, Row)
{
    const Case& c = GetParam();
    const FaultMatrixRow row = RowOf(c);
    SCOPED_TRACE(row.fault + " -> " + row.outcome.signal);
    ASSERT_TRUE(c.setup(rig));
    const std::set<std::string> before = fault::Listing(rig.parent);

    int job = 0;
    ASSERT_EQ(DlCreateJob(&job, "zdr", "svc-fault"), DL_OK);
    for (const ServedFile& file : rig.files)
        EXPECT_EQ(DlAddJobFile(job, file.url.c_str(), rig.folder.c_str(), file.name.c_str(), 0xFFFFFFFFu, -1, 1),
                  c.addResult);
    if (c.addResult != DL_OK) {
        EXPECT_TRUE(events.WaitFor(DL_EVENT_DOWNLOAD_PATH_FAILED, 1, 10));
    } else {
        ASSERT_EQ(DlStartJob(job, 1), DL_OK);
        if (row.outcome.completes) {
            ASSERT_TRUE(events.WaitFor(DL_EVENT_JOB_COMPLETE, 1, 60)) << ReadLog();
            EXPECT_TRUE(NoticeCodes(job).empty());
        } else {
            ASSERT_TRUE(events.WaitFor(DL_EVENT_NOTICE, static_cast<int>(c.notices.size()), 60)) << ReadLog();
            EXPECT_EQ(NoticeCodes(job), c.notices);
        }
    }

    // Only the server's bytes under a final name, each reported done.
    size_t finals = 0;
    for (const ServedFile& file : rig.files) {
        if (!std::filesystem::exists(rig.folder + file.name)) continue;
        ++finals;
        EXPECT_TRUE(ReadFile(rig.folder + file.name) == file.bytes) << file.name;
    }
    EXPECT_EQ(finals, row.outcome.completes ? rig.files.size() : finals);
    EXPECT_EQ(events.Count(DL_EVENT_FILE_DONE), static_cast<int>(finals));
    EXPECT_EQ(events.Count(DL_EVENT_JOB_COMPLETE), row.outcome.completes ? 1 : 0);
    for (const std::string& name : fault::Listing(rig.parent))
        EXPECT_TRUE(before.count(name) || name == "chosen") << "written beside the folder: " << name;
    const std::string log = ReadLog();
    EXPECT_NE(log.find(row.outcome.log), std::string::npos) << log;
    if (c.check) c.check(rig);
    EXPECT_EQ(DlRemoveJob(job), DL_OK);
}

INSTANTIATE_TEST_SUITE_P(Transfer, FaultMatrixPlain, testing::ValuesIn(kTransfer), NameOf);
INSTANTIATE_TEST_SUITE_P(SizeCheck, FaultMatrixPlain, testing::ValuesIn(kSizeCheck), NameOf);
