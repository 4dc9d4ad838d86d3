#include "service/HttpTransferRules.h"

#include "netlib/core/vqCStringTokenizer.h"
#include "service/CPartFileRecord.h"

#include <strings.h>

#include <map>

namespace {

// Digits only, at least one, without overflowing an int64.
bool ReadNumber(const std::string& text, int64_t* value)
{
    if (text.empty() || text.size() > 18) return false;
    int64_t result = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return false;
        result = result * 10 + (ch - '0');
    }
    *value = result;
    return true;
}

std::string Trim(const std::string& text)
{
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// The engine program's part and control files, beside the final name.
constexpr const char* kEnginePartSuffix = ".zdrpart";
constexpr const char* kEngineControlSuffix = ".zdrctl";

} // namespace

bool ParseContentRange(const char* value, int64_t* first, int64_t* last, int64_t* total)
{
    if (!value) return false;
    const std::string text = Trim(value);
    if (strncasecmp(text.c_str(), "bytes ", 6) != 0) return false;
    const std::string spec = Trim(text.substr(6));
    const size_t slash = spec.find('/');
    if (slash == std::string::npos) return false;
    const std::string range = spec.substr(0, slash);
    const std::string length = spec.substr(slash + 1);
    if (length == "*") {
        *total = -1;
    } else if (!ReadNumber(length, total)) {
        return false;
    }
    if (range == "*") {
        *first = -1;
        *last = -1;
        return *total >= 0;
    }
    const size_t dash = range.find('-');
    if (dash == std::string::npos || !ReadNumber(range.substr(0, dash), first) ||
        !ReadNumber(range.substr(dash + 1), last) || *last < *first)
        return false;
    return *total < 0 || *last < *total;
}

bool IsSafeFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char ch : name)
        if (ch == '/' || ch < 0x20 || ch == 0x7F) return false;
    return true;
}

std::string EntryFileName(const std::string& entry)
{
    const size_t slash = entry.find_last_of('/');
    if (slash == std::string::npos) return std::string();
    // The '/' of "://": a URL of a host alone names no file (not its host).
    if (slash >= 2 && entry.compare(slash - 2, 3, "://") == 0) return std::string();
    return entry.substr(slash + 1);
}

std::vector<std::string> NamesTakenBy(const std::string& name)
{
    return {name, name + CPartFileRecord::kPartSuffix, name + CPartFileRecord::kRecordSuffix,
            name + kEnginePartSuffix, name + kEngineControlSuffix};
}

bool FindFileNameClash(const std::vector<std::string>& names, FileNameClash* clash)
{
    struct Taker {
        size_t file;
        bool temporary;
    };
    // Compared as a job compares local paths: without regard to ASCII case.
    auto key = [](std::string name) {
        for (char& ch : name)
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        return name;
    };
    std::map<std::string, Taker> taken;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty()) continue;
        const std::vector<std::string> mine = NamesTakenBy(names[i]);
        for (size_t k = 0; k < mine.size(); ++k) {
            const auto at = taken.find(key(mine[k]));
            if (at == taken.end()) continue;
            const bool mineIsTemporary = k != 0;
            const Taker earlier = at->second;
            clash->name = mine[k];
            clash->temporary = earlier.temporary || mineIsTemporary;
            clash->named = !mineIsTemporary && earlier.temporary ? i : earlier.file;
            clash->other = clash->named == i ? earlier.file : i;
            return true;
        }
        for (size_t k = 0; k < mine.size(); ++k) taken.emplace(key(mine[k]), Taker{i, k != 0});
    }
    return false;
}

std::vector<std::string> SplitAlternatives(const std::string& entry)
{
    std::vector<std::string> alternatives;
    vqCStringTokenizer tokenizer;
    tokenizer.Split(entry.c_str(), '|');
    while (tokenizer.HasMoreTokens()) {
        std::string alternative = Trim(tokenizer.NextToken());
        if (!alternative.empty()) alternatives.push_back(alternative);
    }
    return alternatives;
}

std::string JoinAlternatives(const std::vector<std::string>& alternatives)
{
    std::string entry;
    for (const std::string& alternative : alternatives) {
        if (!entry.empty()) entry += '|';
        entry += alternative;
    }
    return entry;
}
