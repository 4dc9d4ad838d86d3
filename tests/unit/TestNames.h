#pragma once
// Test parameters are printed into the test names that CTest registers; those
// names must stay plain text, so anything but letters, digits and a few safe
// punctuation bytes is written as {XX}.

#include <cstdio>
#include <cstring>
#include <string>

inline std::string PrintableBytes(const std::string& bytes)
{
    std::string name;
    for (unsigned char byte : bytes) {
        bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9');
        if (plain || (byte && strchr("-._/%~*+@=&?:!", byte))) {
            name += static_cast<char>(byte);
        } else {
            char escape[5];
            snprintf(escape, sizeof escape, "{%02X}", byte);
            name += escape;
        }
    }
    return name.empty() ? "(empty)" : name;
}
