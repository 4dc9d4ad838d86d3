#pragma once
// The answer of a server that honours Range, for the scripted peers.

#include "FaultHttpServer.h"

#include <algorithm>
#include <cstdio>
#include <string>

// content with this ETag as a server answers the request: 206 with the bytes
// its "Range: bytes=first-[last]" asks for, else 200 with all of them. It
// answers 200 to a range too when honourRange is false, and, when
// honourIfRange is true, when an If-Range names another ETag. An empty etag
// sends no ETag (nor any other validator).
inline std::string RangeAnswer(const std::string& request, const std::string& content, const std::string& etag,
                               bool honourRange, bool honourIfRange)
{
    std::string range = FaultHttpServer::Header(request, "Range");
    const std::string ifRange = FaultHttpServer::Header(request, "If-Range");
    if (honourIfRange && !ifRange.empty() && ifRange != etag) range.clear();
    long long first = 0, last = static_cast<long long>(content.size()) - 1;
    bool partial = false;
    if (honourRange && !range.empty()) {
        if (sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) < 1) first = 0;
        last = std::min<long long>(last, static_cast<long long>(content.size()) - 1);
        partial = true;
    }
    std::string head = partial ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    const std::string body = content.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1));
    head += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n";
    if (!etag.empty()) head += "ETag: " + etag + "\r\n";
    if (partial)
        head += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                std::to_string(content.size()) + "\r\n";
    return head + "\r\n" + body;
}
