#pragma once
// A byte string with a small inline buffer: up to three bytes (and the NUL)
// live inside the object; anything longer has exactly one heap buffer, which
// is replaced, not grown, when an append outgrows it. No character-set
// handling: every operation works on bytes.

#include <cstdint>

class vqCString {
public:
    vqCString();
    vqCString(const char* text); // NOLINT: implicit, like a C string
    vqCString(const vqCString& other);
    explicit vqCString(char ch);
    vqCString& operator=(const vqCString& other);
    vqCString& operator=(const char* text);
    virtual ~vqCString();

    // A null text, or one whose first byte is 0, empties the string.
    void Assign(const char* text);
    void Assign(const char* bytes, uint32_t length);
    // Keeps the old text when the new buffer cannot be allocated.
    void Append(const char* text);
    void Append(const char* bytes, uint32_t length);

    // Empty for count > 0x100000 or start beyond the length; a count past the
    // end stops at the last byte.
    vqCString Mid(uint32_t start, uint32_t count) const;
    // Index of the first occurrence at or after from, or -1.
    int32_t Find(const char* pattern, uint32_t from) const;
    void MakeLower();

    const char* GetString() const { return m_length > 3 ? m_data.heap : m_data.inline_; }
    uint32_t GetLength() const { return m_length; }
    bool IsEmpty() const { return m_length == 0; }
    bool UsesHeap() const { return m_length > 3; }

    int Compare(const char* text) const;
    bool operator==(const vqCString& other) const { return Compare(other.GetString()) == 0; }
    bool operator==(const char* text) const { return Compare(text) == 0; }
    bool operator<(const vqCString& other) const { return Compare(other.GetString()) < 0; }

private:
    void Clear();

    uint32_t m_length = 0;
    union {
        char inline_[4];
        char* heap;
    } m_data;
};
