#include "netlib/http/RedirectTarget.h"

#include <strings.h>

#include <vector>

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

// The path of a reference with its "." and ".." segments resolved, as a
// server would read it: "/a/b/../c" is "/a/c", and ".." never climbs above
// the root. The query and fragment are left as they are.
std::string RemoveDotSegments(const std::string& reference)
{
    const size_t tail = reference.find_first_of("?#");
    const std::string path = reference.substr(0, tail);
    std::vector<std::string> kept;
    size_t at = 1;
    for (;;) {
        const size_t slash = path.find('/', at);
        const std::string segment = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        const bool last = slash == std::string::npos;
        if (segment == "..") {
            if (!kept.empty()) kept.pop_back();
            if (last) kept.emplace_back();
        } else if (segment == ".") {
            if (last) kept.emplace_back();
        } else {
            kept.push_back(segment);
        }
        if (last) break;
        at = slash + 1;
    }
    std::string resolved;
    for (const std::string& segment : kept) resolved += "/" + segment;
    if (resolved.empty()) resolved = "/";
    return resolved + (tail == std::string::npos ? std::string() : reference.substr(tail));
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
    if (target[0] == '/') return origin + RemoveDotSegments(target);
    std::string path = pathStart == std::string::npos ? "/" : currentUrl.substr(pathStart);
    path.resize(path.find_first_of("?#") == std::string::npos ? path.size() : path.find_first_of("?#"));
    path.resize(path.rfind('/') + 1);
    return origin + RemoveDotSegments(path + target);
}
