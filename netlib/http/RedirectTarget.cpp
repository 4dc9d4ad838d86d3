#include "netlib/http/RedirectTarget.h"

#include <strings.h>

namespace {

bool HasScheme(const std::string& url, const char* scheme)
{
    const size_t length = std::char_traits<char>::length(scheme);
    return url.size() >= length && strncasecmp(url.c_str(), scheme, length) == 0;
}

std::string Trim(const std::string& text)
{
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool HasControlBytes(const std::string& text)
{
    for (unsigned char ch : text)
        if (ch < 0x20 || ch == 0x7F) return true;
    return false;
}

// "ftp://x", "file:///x": a scheme before the first '/'.
bool NamesOtherScheme(const std::string& target)
{
    const size_t colon = target.find("://");
    return colon != std::string::npos && colon < target.find('/');
}

} // namespace

std::string RedirectTarget(const std::string& currentUrl, const std::string& location)
{
    const std::string target = Trim(location);
    if (target.empty() || HasControlBytes(target)) return std::string();
    if (HasScheme(target, "http://") || HasScheme(target, "https://")) return target;
    if (NamesOtherScheme(target)) return std::string();
    const size_t schemeEnd = currentUrl.find("://");
    if (schemeEnd == std::string::npos) return std::string();
    if (target.compare(0, 2, "//") == 0) return currentUrl.substr(0, schemeEnd + 1) + target;
    const size_t pathStart = currentUrl.find('/', schemeEnd + 3);
    const std::string origin = pathStart == std::string::npos ? currentUrl : currentUrl.substr(0, pathStart);
    if (target[0] == '/') return origin + target;
    std::string path = pathStart == std::string::npos ? "/" : currentUrl.substr(pathStart);
    path.resize(path.find_first_of("?#") == std::string::npos ? path.size() : path.find_first_of("?#"));
    path.resize(path.rfind('/') + 1);
    return origin + path + target;
}
