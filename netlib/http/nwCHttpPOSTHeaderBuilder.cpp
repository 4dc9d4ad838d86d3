#include "netlib/http/nwCHttpPOSTHeaderBuilder.h"

#include "netlib/http/nwCHttpMimeTypeMap.h"

#include <cstdio>
#include <mutex>
#include <random>

namespace {

// Each value in 0..32767. Seeded once per process from the system's entropy,
// so boundaries differ between runs and a body is unlikely to contain one.
int NextBoundaryValue()
{
    static std::mutex mutex;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard<std::mutex> lock(mutex);
    return std::uniform_int_distribution<int>(0, 32767)(generator);
}

} // namespace

nwCHttpPOSTHeaderBuilder::nwCHttpPOSTHeaderBuilder()
{
    char digits[17];
    int first = NextBoundaryValue();
    int second = NextBoundaryValue();
    snprintf(digits, sizeof digits, "%08X%08X", first, second);
    m_boundary = "---------------------------";
    m_boundary.Append(digits);
}

void nwCHttpPOSTHeaderBuilder::BuildHeader(vqCString& out)
{
    ResetEmitted();
    const std::string boundary = m_boundary.GetString();
    const std::string contentType = "multipart/form-data; boundary=" + boundary;

    std::string partHeader = "--" + boundary + "\r\n";
    if (ContentLength() > 0) {
        partHeader += "Content-Disposition: form-data; name=attach_file; filename=unknown\r\n";
        partHeader += "Content-Type: ";
        partHeader += nwCHttpMimeTypeMap::Instance()->Lookup(nullptr);
        partHeader += "\r\n";
    }
    vqCString trailer;
    BuildTrailer(trailer);
    // Part header, the CR LF that ends it, the file, the closing delimiter.
    const long long wireLength = static_cast<long long>(partHeader.size()) + 2 + ContentLength() + trailer.GetLength();
    const std::string wireLengthText = std::to_string(wireLength);

    std::string text = "POST ";
    WriteRequestTarget(text);
    text += " HTTP/1.1\r\n";
    WriteKnownHeader(text, "Accept", "*/*");
    WriteKnownHeader(text, "Referer", DefaultReferer());
    WriteKnownHeader(text, "Accept-Language", "ko");
    WriteKnownHeader(text, "Content-Type", contentType.c_str());
    WriteKnownHeader(text, "User-Agent", "TandemClient");
    WriteKnownHeader(text, "Host", nullptr);
    if (ContentLength() > 0) WriteKnownHeader(text, "Content-Length", wireLengthText.c_str());
    WriteKnownHeader(text, "Connection", "Keep-Alive");
    WriteRemainingHeaders(text);
    text += "\r\n";
    text += partHeader;
    text += "\r\n";
    out.Append(text.data(), static_cast<uint32_t>(text.size()));
}

void nwCHttpPOSTHeaderBuilder::BuildTrailer(vqCString& out)
{
    out.Append("\r\n--");
    out.Append(m_boundary.GetString());
    out.Append("--\r\n");
}
