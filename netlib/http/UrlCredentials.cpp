#include "netlib/http/UrlCredentials.h"

#include <cstdint>
#include <cstring>

namespace {

// Where the authority that starts at `from` ends: the path, query or
// fragment, or anything no URL holds unescaped (blanks, the '|' between a
// list entry's alternatives, quotes, control bytes).
size_t AuthorityEnd(const std::string& text, size_t from)
{
    for (size_t at = from; at < text.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte <= 0x20 || byte == 0x7f || strchr("/?#|\"'<>", byte)) return at;
    }
    return text.size();
}

int HexValue(char ch)
{
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

std::string PercentDecoded(const std::string& text)
{
    std::string decoded;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size() && HexValue(text[at + 1]) >= 0 && HexValue(text[at + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[at + 1]) * 16 + HexValue(text[at + 2]));
            at += 2;
        } else {
            decoded += text[at];
        }
    }
    return decoded;
}

std::string Base64(const std::string& bytes)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t at = 0;
    for (; at + 2 < bytes.size(); at += 3) {
        const uint32_t group = (static_cast<unsigned char>(bytes[at]) << 16) |
                               (static_cast<unsigned char>(bytes[at + 1]) << 8) | static_cast<unsigned char>(bytes[at + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(group >> shift) & 0x3f];
    }
    const size_t rest = bytes.size() - at;
    if (rest > 0) {
        uint32_t group = static_cast<unsigned char>(bytes[at]) << 16;
        if (rest == 2) group |= static_cast<unsigned char>(bytes[at + 1]) << 8;
        out += kAlphabet[(group >> 18) & 0x3f];
        out += kAlphabet[(group >> 12) & 0x3f];
        out += rest == 2 ? kAlphabet[(group >> 6) & 0x3f] : '=';
        out += '=';
    }
    return out;
}

} // namespace

std::string SplitUrlCredentials(const std::string& url, std::string* credentials)
{
    credentials->clear();
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const size_t start = scheme + 3;
    const size_t end = AuthorityEnd(url, start);
    // The last '@' ends the user information (the host holds none).
    const size_t at = end > start ? url.rfind('@', end - 1) : std::string::npos;
    if (at == std::string::npos || at < start) return url;
    *credentials = url.substr(start, at - start);
    return url.substr(0, start) + url.substr(at + 1);
}

std::string BasicAuthorization(const std::string& credentials)
{
    const size_t colon = credentials.find(':');
    const std::string user = PercentDecoded(credentials.substr(0, colon));
    const std::string password = colon == std::string::npos ? std::string() : PercentDecoded(credentials.substr(colon + 1));
    return "Basic " + Base64(user + ":" + password);
}

std::string HideUrlCredentials(const std::string& text)
{
    std::string shown;
    size_t copied = 0;
    for (size_t scheme = text.find("://"); scheme != std::string::npos; scheme = text.find("://", scheme + 3)) {
        const size_t start = scheme + 3;
        const size_t end = AuthorityEnd(text, start);
        const size_t at = end > start ? text.rfind('@', end - 1) : std::string::npos;
        if (at == std::string::npos || at < start) continue;
        shown.append(text, copied, start - copied);
        copied = at + 1;
    }
    if (copied == 0) return text;
    shown.append(text, copied, std::string::npos);
    return shown;
}
