// What the plain downloader reads from a server's answer: the Content-Range
// value and the Location of a redirect, read against the URL that answered.
// Checked: an accepted range is one the session can trust (first <= last,
// last inside the total, or the "*/total" form); a redirect target is empty
// or an absolute http(s) URL without control bytes or blanks at its ends; a
// target is stable (resolving it again against anything gives itself).
//
// Input: byte 0 picks the answering URL; the rest is split at its first LF
// into the Content-Range value and the Location value.

#include "FuzzCheck.h"
#include "netlib/http/RedirectTarget.h"
#include "service/HttpTransferRules.h"

#include <strings.h>

#include <cstring>
#include <string>

namespace {

bool IsHttpUrl(const std::string& url)
{
    return strncasecmp(url.c_str(), "http://", 7) == 0 || strncasecmp(url.c_str(), "https://", 8) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    static const char* const kAnswering[] = {
        "http://files.test/client/a.bin", "https://files.test:8443/dir/sub/file?x=1#f", "http://files.test",
        "HTTP://Files.Test/", "http://127.0.0.1:18480/download/vx2/list.txt"};
    const std::string current = kAnswering[data[0] % (sizeof kAnswering / sizeof kAnswering[0])];
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t newline = rest.find('\n');
    const std::string range = rest.substr(0, newline);
    const std::string location = newline == std::string::npos ? std::string() : rest.substr(newline + 1);

    int64_t first = 0, last = 0, total = 0;
    if (ParseContentRange(range.c_str(), &first, &last, &total)) {
        if (first == -1) FUZZ_CHECK(last == -1 && total >= 0);
        else FUZZ_CHECK(first >= 0 && first <= last && (total == -1 || last < total));
    }

    const std::string target = RedirectTarget(current, location);
    if (!target.empty()) {
        FUZZ_CHECK(IsHttpUrl(target));
        for (unsigned char ch : target) FUZZ_CHECK(ch >= 0x20 && ch != 0x7F);
        FUZZ_CHECK(target.front() != ' ' && target.front() != '\t' && target.back() != ' ' && target.back() != '\t');
        FUZZ_CHECK(RedirectTarget(current, target) == target);
        FUZZ_CHECK(RedirectTarget("http://other.test/x", target) == target);
    }
    // A name that passes stays in its folder.
    if (IsSafeFileName(location)) {
        FUZZ_CHECK(location != "." && location != ".." && location.find('/') == std::string::npos);
    }
    return 0;
}
