#include "netlib/core/vqCString.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr uint32_t kInlineMax = 3;
constexpr uint32_t kMidMax = 0x100000;
} // namespace

vqCString::vqCString()
{
    m_data.heap = nullptr;
}

vqCString::vqCString(const char* text) : vqCString()
{
    Assign(text);
}

vqCString::vqCString(const vqCString& other) : vqCString()
{
    Assign(other.GetString(), other.m_length);
}

vqCString::vqCString(char ch) : vqCString()
{
    Assign(&ch, 1);
}

vqCString& vqCString::operator=(const vqCString& other)
{
    if (this != &other) Assign(other.GetString(), other.m_length);
    return *this;
}

vqCString& vqCString::operator=(const char* text)
{
    Assign(text);
    return *this;
}

vqCString::~vqCString()
{
    Clear();
}

void vqCString::Clear()
{
    if (m_length > kInlineMax) delete[] m_data.heap;
    m_length = 0;
    m_data.heap = nullptr;
}

void vqCString::Assign(const char* text)
{
    Assign(text, text ? static_cast<uint32_t>(strlen(text)) : 0);
}

void vqCString::Assign(const char* bytes, uint32_t length)
{
    if (!bytes || bytes[0] == '\0' || length == 0) {
        Clear();
        return;
    }
    if (length > kInlineMax) {
        // The source may be our own buffer (Assign(GetString() + 1, ...)):
        // copy through a new buffer unless the current one is large enough.
        if (m_length >= length) {
            memmove(m_data.heap, bytes, length);
            memset(m_data.heap + length, 0, m_length + 1 - length);
        } else {
            char* buffer = new (std::nothrow) char[length + 1];
            if (!buffer) return;
            memset(buffer, 0, length + 1);
            memcpy(buffer, bytes, length);
            Clear();
            m_data.heap = buffer;
        }
        m_length = length;
        return;
    }
    char copy[kInlineMax + 1] = {};
    memcpy(copy, bytes, length);
    Clear();
    memcpy(m_data.inline_, copy, sizeof copy);
    m_length = length;
}

void vqCString::Append(const char* text)
{
    if (text) Append(text, static_cast<uint32_t>(strlen(text)));
}

void vqCString::Append(const char* bytes, uint32_t length)
{
    if (!bytes || length == 0) return;
    uint32_t combined = m_length + length;
    if (combined > kInlineMax) {
        char* buffer = new (std::nothrow) char[combined + 1];
        if (!buffer) return;
        memset(buffer, 0, combined + 1);
        memcpy(buffer, GetString(), m_length);
        memcpy(buffer + m_length, bytes, length);
        Clear();
        m_data.heap = buffer;
        m_length = combined;
        return;
    }
    memmove(m_data.inline_ + m_length, bytes, length);
    m_data.inline_[combined] = '\0';
    m_length = combined;
}

vqCString vqCString::Mid(uint32_t start, uint32_t count) const
{
    vqCString result;
    if (count > kMidMax || start >= m_length) return result;
    if (count > m_length - start) count = m_length - start;
    result.Assign(GetString() + start, count);
    return result;
}

int32_t vqCString::Find(const char* pattern, uint32_t from) const
{
    if (!pattern || m_length == 0 || from > m_length) return -1;
    const char* text = GetString();
    const char* hit = strstr(text + from, pattern);
    return hit ? static_cast<int32_t>(hit - text) : -1;
}

void vqCString::MakeLower()
{
    char* text = m_length > kInlineMax ? m_data.heap : m_data.inline_;
    for (uint32_t i = 0; i < m_length; ++i)
        if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] - 'A' + 'a');
}

int vqCString::Compare(const char* text) const
{
    return strcmp(GetString(), text ? text : "");
}
