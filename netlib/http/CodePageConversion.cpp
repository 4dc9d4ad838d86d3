#include "netlib/http/CodePageConversion.h"

#include "platform/CodePage.h"

#include <iconv.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// Length of the well-formed UTF-8 sequence (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF) starting at text, or 0.
size_t Utf8SequenceLength(const unsigned char* text, size_t available)
{
    unsigned char lead = text[0];
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // bounds of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else return 0;
    if (available < length) return 0;
    if (text[1] < low || text[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (text[i] < 0x80 || text[i] > 0xBF) return 0;
    return length;
}

bool IsUtf8Name(const std::string& codeset)
{
    return strcasecmp(codeset.c_str(), "UTF-8") == 0 || strcasecmp(codeset.c_str(), "UTF8") == 0;
}

vqRESULT Convert(const std::string& from, const std::string& to, const char* source, vqCString& out)
{
    out.Assign(nullptr);
    if (!source || !source[0]) return VQ_OK_PLATFORM;
    iconv_t converter = iconv_open(to.c_str(), from.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return VQ_E_PLATFORM;

    const bool fromUtf8 = IsUtf8Name(from);
    size_t left = strlen(source);
    char* in = const_cast<char*>(source);
    std::string result;
    char chunk[1024];
    // Every pass either consumes input, writes output or steps over a bad
    // byte, so the loop ends.
    while (left > 0) {
        char* outPos = chunk;
        size_t room = sizeof chunk;
        size_t done = iconv(converter, &in, &left, &outPos, &room);
        result.append(chunk, static_cast<size_t>(outPos - chunk));
        if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
        const auto* bytes = reinterpret_cast<const unsigned char*>(in);
        size_t skip = 1;
        if (errno == EILSEQ && fromUtf8 && (skip = Utf8SequenceLength(bytes, left)) > 0) {
            // Well-formed input the target cannot represent.
            result += '?';
        } else {
            // Invalid (or, with EINVAL, cut-off) input: keep the byte as it is.
            skip = 1;
            result += static_cast<char>(bytes[0]);
        }
        in += skip;
        left -= skip;
    }
    char* outPos = chunk;
    size_t room = sizeof chunk;
    iconv(converter, nullptr, nullptr, &outPos, &room); // closing shift sequence, if any
    result.append(chunk, static_cast<size_t>(outPos - chunk));
    iconv_close(converter);

    out.Assign(result.data(), static_cast<uint32_t>(result.size()));
    return VQ_OK_PLATFORM;
}

} // namespace

vqRESULT AnsiToUtf8(const char* source, vqCString& out)
{
    return Convert(SystemCodeSet(), "UTF-8", source, out);
}

vqRESULT Utf8ToAnsi(const char* source, vqCString& out)
{
    return Convert("UTF-8", SystemCodeSet(), source, out);
}
