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
