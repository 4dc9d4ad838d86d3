#include "netlib/http/RedirectTarget.h"

#include <cctype>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    for (size_t i = 0; prefix[i]; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

bool HasControlBytes(const std::string& text)
{
    for (unsigned char ch : text)
        if (ch < 0x20 || ch == 0x7F) return true;
    return false;
}

} // namespace

std::string RedirectTarget(const std::string& currentUrl, const std::string& location)
{
    if (location.empty() || HasControlBytes(location)) return std::string();
    if (StartsWithNoCase(location, "http://") || StartsWithNoCase(location, "https://")) return location;
    // "//host/path" would change the host silently; only a path is relative.
    if (location[0] != '/' || (location.size() > 1 && location[1] == '/')) return std::string();
    const size_t scheme = currentUrl.find("://");
    if (scheme == std::string::npos) return std::string();
    const size_t pathStart = currentUrl.find('/', scheme + 3);
    return currentUrl.substr(0, pathStart) + location;
}
