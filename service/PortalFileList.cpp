#include "service/PortalFileList.h"

#include <cstring>

namespace {

constexpr long long kLineLimit = 1024;

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

// The line's alternatives, each trimmed of the same white space as the line
// (a CR or form feed between two '|' is no URL), empty ones dropped.
std::string Trimmed(const char* begin, const char* end)
{
    std::string entry;
    const char* start = begin;
    for (const char* p = begin; p <= end; ++p) {
        if (p < end && *p != '|') continue;
        const char* first = start;
        const char* last = p;
        while (first < last && IsBlank(*first)) ++first;
        while (last > first && IsBlank(last[-1])) --last;
        if (first < last) {
            if (!entry.empty()) entry += '|';
            entry.append(first, last);
        }
        start = p + 1;
    }
    return entry;
}

} // namespace

PortalListResult ParsePortalFileList(const char* body, long long length, std::vector<std::string>* entries,
                                     long long* faultLine, std::vector<long long>* entryLines)
{
    entries->clear();
    if (entryLines) entryLines->clear();
    auto take = [&](const char* begin, const char* end, long long line) {
        std::string entry = Trimmed(begin, end);
        if (entry.empty()) return;
        entries->push_back(std::move(entry));
        if (entryLines) entryLines->push_back(line);
    };
    if (!body || length < 0) length = 0;
    long long lineStart = 0;
    long long line = 1;
    auto fault = [&](PortalListResult result) {
        if (faultLine) *faultLine = line;
        return result;
    };
    for (long long i = 0; i < length; ++i) {
        long long breakLength = 0;
        if (body[i] == '\n') breakLength = 1;
        else if (body[i] == '\r') breakLength = i + 1 < length && body[i + 1] == '\n' ? 2 : 1;
        if (breakLength == 0) continue;
        long long lineLength = i - lineStart;
        if (lineLength >= kLineLimit) return fault(PortalListResult::LineTooLong);
        if (memchr(body + lineStart, '\0', static_cast<size_t>(lineLength))) return fault(PortalListResult::NulByte);
        if (lineLength > 0) take(body + lineStart, body + i, line);
        i += breakLength - 1;
        lineStart = i + 1;
        ++line;
    }
    long long rest = length - lineStart;
    if (rest >= kLineLimit) return fault(PortalListResult::LineTooLong);
    if (rest > 0 && memchr(body + lineStart, '\0', static_cast<size_t>(rest))) return fault(PortalListResult::NulByte);
    if (rest > 2) take(body + lineStart, body + length, line);
    return entries->empty() ? PortalListResult::Empty : PortalListResult::Ok;
}

bool PortalEntriesClash(const std::vector<std::string>& entries, FileNameClash* clash)
{
    std::vector<std::string> names;
    for (const std::string& entry : entries) names.push_back(EntryFileName(entry));
    return FindFileNameClash(names, clash);
}

const char* PortalListErrorText(PortalListResult result)
{
    switch (result) {
    case PortalListResult::LineTooLong:
    case PortalListResult::NulByte:
    case PortalListResult::NameClash:
        return "輸入了錯誤的URL";
    case PortalListResult::Empty:
        return "下載檔案目錄失敗";
    case PortalListResult::Ok:
        break;
    }
    return "";
}
