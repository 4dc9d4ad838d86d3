#include "service/CPartFileRecord.h"

#include "platform/FileSystem.h"

#include <cstdlib>
#include <sstream>

namespace {

std::string RecordPath(const std::string& partPath)
{
    return partPath + ".state";
}

// A value that would break the line format is not stored.
bool IsStorable(const std::string& value)
{
    return value.find_first_of("\r\n") == std::string::npos;
}

} // namespace

bool CPartFileRecord::Load(const std::string& partPath)
{
    *this = CPartFileRecord();
    std::string text;
    if (!ReadOwnFile(RecordPath(partPath), &text)) return false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "url") {
            url = value;
        } else if (key == "validator") {
            validator = value;
        } else if (key == "total") {
            char* end = nullptr;
            const long long number = strtoll(value.c_str(), &end, 10);
            total = !value.empty() && end && *end == '\0' ? number : -1;
        }
    }
    return IsUsable();
}

bool CPartFileRecord::Save(const std::string& partPath) const
{
    if (!IsUsable() || !IsStorable(url) || !IsStorable(validator)) return false;
    return WriteOwnFile(RecordPath(partPath),
                        "url=" + url + "\ntotal=" + std::to_string(total) + "\nvalidator=" + validator + "\n");
}

void CPartFileRecord::Remove(const std::string& partPath)
{
    DeleteOneFile(RecordPath(partPath));
}
