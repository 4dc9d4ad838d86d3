#pragma once
// What the fault-matrix tests share: answers a scripted peer sends, a tmpfs
// mounted for a row (full or read-only disks), a folder's listing (to show
// nothing was written beside the chosen folder), and the names of the codes a
// row's outcome is stated in.

#include "FaultHttpServer.h"
#include "FaultMatrix.h"
#include "service/DlApi.h"

#include <arpa/inet.h>
#include <sys/mount.h>

#include <algorithm>
#include <cstdio>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>
#include <cstdint>

namespace fault {

// An HTTP/1.1 answer: the status line's rest ("200 OK"), header lines
// without their line ends, and the body.
inline std::string Answer(const std::string& status, const std::vector<std::string>& headers,
                          const std::string& body = "")
{
    std::string text = "HTTP/1.1 " + status + "\r\n";
    for (const std::string& header : headers) text += header + "\r\n";
    return text + "\r\n" + body;
}

// The offset a request's "Range: bytes=N-" asks for; -1 without a range.
inline long long RangeStart(const std::string& request)
{
    const std::string range = FaultHttpServer::Header(request, "Range");
    if (range.compare(0, 6, "bytes=") != 0) return -1;
    return std::atoll(range.c_str() + 6);
}

// What a correct server answers: 206 from the asked offset, 200 without a
// range. Headers are added after the status line.
inline std::string Serve(const std::string& request, const std::string& bytes,
                         const std::vector<std::string>& extra = {})
{
    const long long start = RangeStart(request);
    std::vector<std::string> headers = extra;
    headers.push_back("ETag: \"fault-1\"");
    if (start < 0) {
        headers.push_back("Content-Length: " + std::to_string(bytes.size()));
        return Answer("200 OK", headers, bytes);
    }
    const size_t from = std::min<size_t>(static_cast<size_t>(start), bytes.size());
    headers.push_back("Content-Length: " + std::to_string(bytes.size() - from));
    headers.push_back("Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(bytes.size() - 1) + "/" +
                      std::to_string(bytes.size()));
    return Answer("206 Partial Content", headers, bytes.substr(from));
}

// A header of more than 64 KiB: one line of 1 MiB, or 10,000 short lines.
inline std::string HugeHeaderLine()
{
    return "X-Filler: " + std::string(1 << 20, 'a');
}
inline std::vector<std::string> ManyHeaderLines()
{
    std::vector<std::string> lines;
    for (int i = 0; i < 10000; ++i) lines.push_back("X-Line-" + std::to_string(i) + ": v");
    return lines;
}

// A tmpfs mounted on a folder for one row (we run as root); unmounted at
// the end of the row.
class TmpfsMount {
public:
    bool Mount(const std::string& folder, const std::string& options, bool readOnly)
    {
        std::filesystem::create_directories(folder);
        if (mount("tmpfs", folder.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) != 0) return false;
        m_folder = folder;
        return true;
    }
    ~TmpfsMount()
    {
        if (!m_folder.empty()) umount2(m_folder.c_str(), MNT_DETACH);
    }

private:
    std::string m_folder;
};

// The names in a folder (not recursive); empty when it does not exist.
inline std::set<std::string> Listing(const std::string& folder)
{
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.insert(entry.path().filename().string());
    return names;
}

inline std::string NoticeName(int code)
{
    switch (code) {
    case DL_NOTICE_DISK_FULL: return "notice 513 (disk full)";
    case DL_NOTICE_DOWNLOAD_FAILED: return "notice 517 (download failed)";
    default: return "notice " + std::to_string(code);
    }
}

inline std::string EventName(int code)
{
    switch (code) {
    case DL_EVENT_JOB_COMPLETE: return "event 516 (job complete)";
    case DL_EVENT_FETCH_DONE: return "event 522 (fetch done)";
    case DL_EVENT_FETCH_FAILED: return "event 523 (fetch failed)";
    case DL_EVENT_SIZE_CHECK_DONE: return "event 525 (size check done)";
    case DL_EVENT_SIZE_CHECK_FAILED: return "event 526 (size check failed)";
    case DL_EVENT_DOWNLOAD_PATH_FAILED: return "event 528 (download path failed)";
    default: return "event " + std::to_string(code);
    }
}

inline std::string Join(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text;
}

// Names under .test are this machine (for the TLS rows, where SNI picks the
// certificate).
inline bool ResolveTestNames(const char* name, std::vector<uint32_t>* addresses)
{
    const std::string host = name;
    in_addr numeric{};
    if (inet_pton(AF_INET, name, &numeric) == 1) {
        *addresses = {numeric.s_addr};
        return true;
    }
    if (host.size() < 5 || host.compare(host.size() - 5, 5, ".test") != 0) return false;
    *addresses = {htonl(INADDR_LOOPBACK)};
    return true;
}

// Scripted answers.
inline FaultHttpServer::Answer Raw(const std::string& bytes)
{
    return FaultHttpServer::Answer{bytes};
}
inline FaultHttpServer::Answer ResetAfter(const std::string& bytes)
{
    FaultHttpServer::Answer answer{bytes};
    answer.reset = true;
    return answer;
}
inline FaultHttpServer::Answer StallAfter(const std::string& bytes)
{
    FaultHttpServer::Answer answer{bytes};
    answer.stall = true;
    return answer;
}
// The file's answer with its length field replaced by these lines.
inline std::string WithLength(const std::string& request, const std::string& bytes, const std::vector<std::string>& length)
{
    std::string answer = Serve(request, bytes);
    const size_t at = answer.find("Content-Length: ");
    const size_t end = answer.find("\r\n", at) + 2;
    std::string lines;
    for (const std::string& line : length) lines += line + "\r\n";
    return answer.replace(at, end - at, lines);
}
// The chunked coding's frame of one chunk: its size line, its bytes, CR LF.
inline std::string Chunk(const std::string& bytes, const std::string& extension = "")
{
    char size[32];
    snprintf(size, sizeof size, "%zx", bytes.size());
    return std::string(size) + extension + "\r\n" + bytes + "\r\n";
}
// The file's answer in the chunked coding: chunks of chunkSize bytes (0: one
// chunk), each with the extension, then the last chunk and the trailer lines.
inline std::string Chunked(const std::string& request, const std::string& bytes, size_t chunkSize = 0,
                           const std::string& extension = "", const std::string& trailer = "")
{
    const long long start = std::max(0LL, RangeStart(request));
    const std::string body = bytes.substr(static_cast<size_t>(start));
    std::vector<std::string> headers = {"Transfer-Encoding: chunked"};
    if (RangeStart(request) >= 0)
        headers.push_back("Content-Range: bytes " + std::to_string(start) + "-" + std::to_string(bytes.size() - 1) + "/" +
                          std::to_string(bytes.size()));
    const size_t step = chunkSize ? chunkSize : std::max<size_t>(body.size(), 1);
    std::string chunks;
    for (size_t at = 0; at < body.size(); at += step) chunks += Chunk(body.substr(at, step), extension);
    return Answer(start >= 0 && RangeStart(request) >= 0 ? "206 Partial Content" : "200 OK", headers,
                  chunks + "0\r\n" + trailer + "\r\n");
}
inline std::string HeaderOf(const std::string& answer, size_t keep)
{
    return answer.substr(0, std::min(keep, answer.find("\r\n\r\n")));
}

// nginx's redirects beyond its own /redirect (302), /moved (301),
// /temporary (307) and /permanent (308).
inline std::string RedirectConfig(uint16_t otherPort)
{
    const std::string other = std::to_string(otherPort);
    return "    listen 127.0.0.1:" + other + ";\n"
           "    location ~ ^/seeother(/.*)$ { return 303 $1; }\n"
           "    location ~ ^/loop/ { return 302 /loop/x.bin; }\n"
           // Only requests with a range (the transfer's, not the size
           // check's) go round in circles.
           "    location ~ ^/rangeloop(/.*)$ { if ($http_range) { return 302 /rangeloop$1; } rewrite ^/rangeloop(/.*)$ $1 "
           "break; }\n"
           "    location ~ ^/rel/a/b/(.*)$ { absolute_redirect off; return 302 ../../../files/$1; }\n"
           "    location ~ ^/otherport(/.*)$ { return 302 http://127.0.0.1:" + other + "$1; }\n";
}

} // namespace fault
