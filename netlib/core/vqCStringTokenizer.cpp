#include "netlib/core/vqCStringTokenizer.h"

#include <cstring>

vqCStringTokenizer::~vqCStringTokenizer()
{
    FreeTokens();
}

void vqCStringTokenizer::FreeTokens()
{
    while (m_tokens.GetCount() > 0) delete[] static_cast<char*>(m_tokens.RemoveAt(0));
    m_position = 0;
}

void vqCStringTokenizer::Split(const char* text, char delimiter)
{
    FreeTokens();
    if (!text) return;
    const char* run = text;
    for (const char* p = text;; ++p) {
        if (*p != delimiter && *p != '\0') continue;
        if (p > run) {
            size_t length = static_cast<size_t>(p - run);
            char* token = new char[length + 1];
            memcpy(token, run, length);
            token[length] = '\0';
            m_tokens.AddTail(token);
        }
        if (*p == '\0') break;
        run = p + 1;
    }
}

const char* vqCStringTokenizer::NextToken()
{
    if (!HasMoreTokens()) return nullptr;
    return static_cast<const char*>(m_tokens.GetAt(m_position++));
}
