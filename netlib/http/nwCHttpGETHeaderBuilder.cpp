#include "netlib/http/nwCHttpGETHeaderBuilder.h"

void nwCHttpGETHeaderBuilder::BuildHeader(vqCString& out)
{
    ResetEmitted();
    std::string text = "GET ";
    WriteRequestTarget(text);
    text += " HTTP/1.1\r\n";
    WriteKnownHeader(text, "Accept", "*/*");
    WriteKnownHeader(text, "Referer", DefaultReferer());
    WriteKnownHeader(text, "Accept-Language", "ko");
    WriteKnownHeader(text, "User-Agent", "TandemClient");
    WriteKnownHeader(text, "Range", nullptr);
    WriteKnownHeader(text, "Host", nullptr);
    WriteKnownHeader(text, "Connection", "Keep-Alive");
    WriteRemainingHeaders(text);
    text += "\r\n";
    out.Append(text.data(), static_cast<uint32_t>(text.size()));
}

void nwCHttpGETHeaderBuilder::BuildTrailer(vqCString& out)
{
    (void)out;
}
