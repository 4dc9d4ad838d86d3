#pragma once
// Splits a text on one delimiter byte into its non-empty tokens.

#include "netlib/core/vqCPtrList.h"

#include <cstdint>

class vqCStringTokenizer {
public:
    vqCStringTokenizer() = default;
    ~vqCStringTokenizer();
    vqCStringTokenizer(const vqCStringTokenizer&) = delete;
    vqCStringTokenizer& operator=(const vqCStringTokenizer&) = delete;

    // Replaces the tokens with every maximal run of bytes without the
    // delimiter; empty runs make no token. Resets the read position.
    void Split(const char* text, char delimiter);
    bool HasMoreTokens() const { return m_position < m_tokens.GetCount(); }
    // The token at the read position (null past the end); advances it. The
    // tokenizer keeps ownership.
    const char* NextToken();
    int32_t GetCount() const { return m_tokens.GetCount(); }

private:
    void FreeTokens();

    vqCPtrList m_tokens;
    int32_t m_position = 0;
};
