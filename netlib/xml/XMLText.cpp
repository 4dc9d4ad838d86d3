#include "netlib/xml/XMLText.h"

#include <cstdint>
#include <cstring>

std::string XmlEscapeName(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        switch (raw[i]) {
        case '&':
            if (i + 1 < raw.size() && raw[i + 1] == '#') out += '&';
            else out += "&amp;";
            break;
        case '>': out += "&gt;"; break;
        case '<': out += "&lt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += raw[i]; break;
        }
    }
    return out;
}

namespace {

struct Entity {
    const char* text;
    char byte;
};

constexpr Entity kEntities[] = {
    {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'},
};

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kMaxCodePoint = 0x10FFFF;

int DigitValue(char c, bool hex)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (!hex) return -1;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t code)
{
    if (code == 0 || code > kMaxCodePoint || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A numeric reference at stored[at] ("&#..."): appends its bytes and answers
// how many input bytes it used, or 0 when no digits follow.
size_t DecodeNumeric(std::string_view stored, size_t at, std::string& out)
{
    size_t i = at + 2;
    const bool hex = i < stored.size() && (stored[i] == 'x' || stored[i] == 'X');
    if (hex) ++i;
    const size_t firstDigit = i;
    uint32_t code = 0;
    for (; i < stored.size(); ++i) {
        const int digit = DigitValue(stored[i], hex);
        if (digit < 0) break;
        // Saturate: anything past the last code point is replaced anyway.
        code = code > kMaxCodePoint ? code : code * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    }
    if (i == firstDigit) return 0;
    if (i < stored.size()) ++i; // the byte after the digits, normally ';'
    AppendUtf8(out, code);
    return i - at;
}

} // namespace

std::string XmlDecode(std::string_view stored)
{
    std::string out;
    out.reserve(stored.size());
    size_t i = 0;
    while (i < stored.size()) {
        if (stored[i] != '&') {
            out += stored[i++];
            continue;
        }
        if (i + 1 < stored.size() && stored[i + 1] == '#') {
            const size_t used = DecodeNumeric(stored, i, out);
            if (used) {
                i += used;
                continue;
            }
        }
        bool matched = false;
        for (const Entity& entity : kEntities) {
            const size_t length = strlen(entity.text);
            if (stored.substr(i, length) == entity.text) {
                out += entity.byte;
                i += length;
                matched = true;
                break;
            }
        }
        if (!matched) out += stored[i++];
    }
    return out;
}

int XmlCopyOut(const std::string& text, size_t storedLength, char* buffer, size_t capacity)
{
    if (!buffer) return static_cast<int>(storedLength);
    if (capacity < text.size() + 1) return 0;
    memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return static_cast<int>(text.size());
}
