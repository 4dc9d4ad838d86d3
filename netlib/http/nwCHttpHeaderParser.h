#pragma once
// A parsed HTTP response header block: the status line and the header fields
// in arrival order, and the block's raw text.
//
// Entries: the first is the status line, named by what precedes its first
// space ("HTTP/1.1") with the rest as its value ("200 OK"). Every further
// line is a field: its name keeps the colon ("Content-Length:"), its value is
// what follows the colon without surrounding spaces or tabs, percent-decoded.
// Lines without a colon and continuation lines (starting with a space or
// tab) are ignored. Every CR is dropped; lines end at LF. Values are kept as
// received: percent escapes in them (a Location's "%2F") are the sender's
// and are not decoded here.
//
// Lookup of a field compares the whole name with the key, ignoring ASCII
// case; the key may be given with or without its colon ("Content-Length"
// finds neither "Content-Length-Hint" nor "Content"). The first entry that
// matches wins.

#include "netlib/core/vqCString.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class nwCHttpHeaderParser {
public:
    // Empties everything, then parses length bytes (the whole block, the
    // terminating empty line included).
    void Parse(const char* bytes, uint32_t length);
    void Clear();

    // Null when no entry matches or the key is null or empty.
    const vqCString* Find(const char* key) const;
    // The leading digits of the status line's value; 0 when there are none or
    // they do not fit in 32 bits.
    int32_t GetStatusCode() const;
    enum class LengthField { kAbsent, kValid, kInvalid };
    // The "Content-Length" field: kValid with *length set when every such
    // field is wholly decimal digits fitting in 63 bits and all carry the same
    // number; kInvalid for a sign, other text, an overflow, or two fields
    // that disagree (the body's end could not be trusted).
    LengthField ReadContentLength(int64_t* length) const;
    // The valid "Content-Length" value, else 0.
    int64_t GetContentLength() const;
    const vqCString& GetRawText() const { return m_rawText; }

    int32_t GetCount() const { return static_cast<int32_t>(m_entries.size()); }
    const vqCString& GetName(int32_t index) const { return m_entries[static_cast<size_t>(index)].name; }
    const vqCString& GetValue(int32_t index) const { return m_entries[static_cast<size_t>(index)].value; }

private:
    struct Entry {
        vqCString name;
        vqCString value;
    };
    void AddLine(const char* line, uint32_t length, bool statusLine);

    std::vector<Entry> m_entries;
    vqCString m_rawText;
};
