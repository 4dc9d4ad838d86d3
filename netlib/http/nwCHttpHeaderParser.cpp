#include "netlib/http/nwCHttpHeaderParser.h"

#include "netlib/http/utCUriCodec.h"

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
    if (!statusLine) utCUriCodec().DecodeInPlace(entry.value);
    m_entries.push_back(entry);
}

const vqCString* nwCHttpHeaderParser::Find(const char* key) const
{
    if (!key || !*key) return nullptr;
    const size_t keyLength = strlen(key);
    for (const Entry& entry : m_entries) {
        if (entry.name.GetLength() < keyLength) continue;
        const char* name = entry.name.GetString();
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

int64_t nwCHttpHeaderParser::GetContentLength() const
{
    const vqCString* value = Find("Content-Length");
    if (!value) return 0;
    int64_t length = 0;
    const char* end = nullptr;
    // A value with anything after its digits ("10, 10", "1e3") is not a
    // length we can trust to end the body.
    if (!ReadDigits(value->GetString(), std::numeric_limits<int64_t>::max(), &length, &end) || *end) return 0;
    return length;
}
