#include "cli/TerminalText.h"

#include <cstdio>

std::string TerminalSafe(const std::string& text)
{
    std::string shown;
    shown.reserve(text.size());
    for (unsigned char ch : text) {
        // C1 controls (0x80-0x9F) act only as single bytes in 8-bit
        // terminals; in UTF-8 text they are continuation bytes and stay.
        if (ch < 0x20 || ch == 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", ch);
            shown += escaped;
        } else if (ch == '\\') {
            shown += "\\\\";
        } else {
            shown += static_cast<char>(ch);
        }
    }
    return shown;
}

namespace {

// The length of the valid UTF-8 character at text[at] and its columns; a
// byte that starts none is a character of one byte and one column.
size_t CharacterAt(const std::string& text, size_t at, int* columns)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    *columns = 1;
    size_t length = 1;
    unsigned int code = lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    }
    if (length == 1 || at + length > text.size()) return 1;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 1;
        code = (code << 6) | (next & 0x3F);
    }
    if (code >= 0x1100) *columns = 2;
    return length;
}

} // namespace

int ColumnsOf(const std::string& text)
{
    int total = 0;
    for (size_t at = 0; at < text.size();) {
        int columns = 0;
        at += CharacterAt(text, at, &columns);
        total += columns;
    }
    return total;
}

std::string CutToColumns(const std::string& text, int columns)
{
    int used = 0;
    size_t at = 0;
    while (at < text.size()) {
        int width = 0;
        const size_t length = CharacterAt(text, at, &width);
        if (used + width > columns) break;
        used += width;
        at += length;
    }
    return text.substr(0, at);
}
