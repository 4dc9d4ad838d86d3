#include "netlib/http/nwCHttpHeaderParser.h"

#include <strings.h>

#include <cstring>
#include <limits>
#include <string>

namespace {

bool IsDigit(char ch)
{
    return ch >= '0' && ch <= '9';
}

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

char LowerAscii(char ch)
{
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}

// Accumulates the decimal digits at the start of text into *value. False when
// there are none or when they exceed max: a peer's oversized number must not
// wrap into a plausible one.
bool ReadDigits(const char* text, int64_t max, int64_t* value, const char** end)
{
    int64_t number = 0;
    const char* p = text;
    for (; IsDigit(*p); ++p) {
        const int digit = *p - '0';
        if (number > (max - digit) / 10) return false;
        number = number * 10 + digit;
    }
    if (p == text) return false;
    *value = number;
    if (end) *end = p;
    return true;
}

} // namespace

void nwCHttpHeaderParser::Clear()
{
    m_entries.clear();
    m_rawText.Assign(nullptr);
}

void nwCHttpHeaderParser::Parse(const char* bytes, uint32_t length)
{
    Clear();
    if (!bytes) return;
    m_rawText.Assign(bytes, length);
    std::string line;
    bool statusLine = true;
    for (uint32_t i = 0; i <= length; ++i) {
        if (i < length && bytes[i] != '\n') {
            if (bytes[i] != '\r') line += bytes[i];
            continue;
        }
        if (!line.empty()) {
            AddLine(line.data(), static_cast<uint32_t>(line.size()), statusLine);
            statusLine = false;
        }
        line.clear();
    }
}

void nwCHttpHeaderParser::AddLine(const char* line, uint32_t length, bool statusLine)
{
    Entry entry;
    uint32_t valueStart;
    if (statusLine) {
        const char* space = static_cast<const char*>(memchr(line, ' ', length));
        const uint32_t nameLength = space ? static_cast<uint32_t>(space - line) : length;
        entry.name.Assign(line, nameLength);
        valueStart = space ? nameLength + 1 : length;
    } else {
        // Optional whitespace around a field value is not part of it, so
        // "Content-Length:10" and "Content-Length:  10" both read as 10.
        const char* colon = static_cast<const char*>(memchr(line, ':', length));
        if (!colon || colon == line || IsBlank(line[0])) return;
        const uint32_t nameLength = static_cast<uint32_t>(colon - line) + 1;
        entry.name.Assign(line, nameLength);
        valueStart = nameLength;
        while (valueStart < length && IsBlank(line[valueStart])) ++valueStart;
        while (length > valueStart && IsBlank(line[length - 1])) --length;
    }
    entry.value.Assign(line + valueStart, length - valueStart);
    m_entries.push_back(entry);
}

const vqCString* nwCHttpHeaderParser::Find(const char* key) const
{
    if (!key || !*key) return nullptr;
    size_t keyLength = strlen(key);
    if (key[keyLength - 1] == ':') --keyLength;
    if (keyLength == 0) return nullptr;
    for (const Entry& entry : m_entries) {
        size_t nameLength = entry.name.GetLength();
        const char* name = entry.name.GetString();
        if (nameLength > 0 && name[nameLength - 1] == ':') --nameLength;
        if (nameLength != keyLength) continue;
        size_t i = 0;
        while (i < keyLength && LowerAscii(name[i]) == LowerAscii(key[i])) ++i;
        if (i == keyLength) return &entry.value;
    }
    return nullptr;
}

int32_t nwCHttpHeaderParser::GetStatusCode() const
{
    if (m_entries.empty()) return 0;
    int64_t status = 0;
    if (!ReadDigits(m_entries.front().value.GetString(), std::numeric_limits<int32_t>::max(), &status, nullptr))
        return 0;
    return static_cast<int32_t>(status);
}

nwCHttpHeaderParser::LengthField nwCHttpHeaderParser::ReadContentLength(int64_t* length) const
{
    // Every field of that name counts, not the first: a peer that sends two
    // different lengths has framed its body two ways.
    bool found = false;
    int64_t agreed = 0;
    for (size_t i = 1; i < m_entries.size(); ++i) {
        const vqCString& name = m_entries[i].name;
        if (strcasecmp(name.GetString(), "Content-Length:") != 0) continue;
        int64_t value = 0;
        const char* end = nullptr;
        // A value with anything after its digits ("10, 10", "1e3") is not a
        // length we can trust to end the body.
        if (!ReadDigits(m_entries[i].value.GetString(), std::numeric_limits<int64_t>::max(), &value, &end) || *end)
            return LengthField::kInvalid;
        if (found && value != agreed) return LengthField::kInvalid;
        found = true;
        agreed = value;
    }
    if (!found) return LengthField::kAbsent;
    if (length) *length = agreed;
    return LengthField::kValid;
}

int64_t nwCHttpHeaderParser::GetContentLength() const
{
    int64_t length = 0;
    return ReadContentLength(&length) == LengthField::kValid ? length : 0;
}
