// The portal file-list parser on any body (the list comes from the portal
// server). Checked: every entry is trimmed, holds no NUL and no line break,
// no empty alternative and fits the line limit; a failure names a line that
// exists; the error texts exist for every result.
//
// Input: the body.

#include "FuzzCheck.h"
#include "service/HttpTransferRules.h"
#include "service/PortalFileList.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* body = reinterpret_cast<const char*>(data);
    std::vector<std::string> entries;
    long long faultLine = 0;
    const PortalListResult result = ParsePortalFileList(body, static_cast<long long>(size), &entries, &faultLine);
    // Line ends: LF, CR LF, or a CR alone.
    long long lines = 1;
    for (size_t i = 0; i < size; ++i)
        if (body[i] == '\n' || (body[i] == '\r' && (i + 1 == size || body[i + 1] != '\n'))) ++lines;
    FUZZ_CHECK(entries.size() <= static_cast<size_t>(lines));
    if (result == PortalListResult::LineTooLong || result == PortalListResult::NulByte)
        FUZZ_CHECK(faultLine >= 1 && faultLine <= lines);
    if (result == PortalListResult::Ok) FUZZ_CHECK(!entries.empty());
    if (result == PortalListResult::Empty) FUZZ_CHECK(entries.empty());
    FUZZ_CHECK(PortalListErrorText(result) != nullptr);
    FUZZ_CHECK((result == PortalListResult::Ok) == (*PortalListErrorText(result) == '\0'));
    for (const std::string& entry : entries) {
        FUZZ_CHECK(entry.size() < 1024);
        FUZZ_CHECK(entry.find('\0') == std::string::npos && entry.find('\n') == std::string::npos &&
                   entry.find('\r') == std::string::npos);
        if (entry.empty()) continue;
        FUZZ_CHECK(!IsBlank(entry.front()) && !IsBlank(entry.back()));
        FUZZ_CHECK(entry.front() != '|' && entry.back() != '|' && entry.find("||") == std::string::npos);
        // The parsed entry is its own canonical form.
        FUZZ_CHECK(JoinAlternatives(SplitAlternatives(entry)) == entry);
    }
    // Null bodies and negative lengths read nothing.
    FUZZ_CHECK(ParsePortalFileList(nullptr, static_cast<long long>(size), &entries) == PortalListResult::Empty);
    FUZZ_CHECK(ParsePortalFileList(body, -1, &entries) == PortalListResult::Empty);
    return 0;
}
