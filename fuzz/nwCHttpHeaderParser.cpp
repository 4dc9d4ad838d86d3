// The HTTP response header parser on any block of bytes: the status, the
// field lookups and the Content-Length rule, with the parser's documented
// promises checked on every input.

#include "FuzzCheck.h"
#include "netlib/http/nwCHttpHeaderParser.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string block(reinterpret_cast<const char*>(data), size);
    nwCHttpHeaderParser parser;
    parser.Parse(block.data(), static_cast<uint32_t>(block.size()));

    FUZZ_CHECK(parser.GetStatusCode() >= 0);
    int64_t length = -1;
    const nwCHttpHeaderParser::LengthField field = parser.ReadContentLength(&length);
    if (field == nwCHttpHeaderParser::LengthField::kValid) FUZZ_CHECK(length >= 0 && parser.GetContentLength() == length);
    else FUZZ_CHECK(parser.GetContentLength() == 0);

    for (int32_t i = 0; i < parser.GetCount(); ++i) {
        const vqCString& name = parser.GetName(i);
        const vqCString& value = parser.GetValue(i);
        // No CR survives, and no line break is kept inside an entry.
        FUZZ_CHECK(!strchr(name.GetString(), '\r') && !strchr(value.GetString(), '\r'));
        FUZZ_CHECK(!strchr(name.GetString(), '\n') && !strchr(value.GetString(), '\n'));
        if (i > 0) {
            // A field keeps its colon, and lookup by that name finds a field.
            // (A line that starts with a NUL byte leaves an empty name: a
            // vqCString cannot start with one. Names holding a NUL are cut
            // there by any lookup.)
            if (name.IsEmpty() || strlen(name.GetString()) != name.GetLength()) continue;
            FUZZ_CHECK(name.GetString()[name.GetLength() - 1] == ':');
            if (name.GetLength() > 1) FUZZ_CHECK(parser.Find(name.GetString()) != nullptr);
        }
    }
    const char* keys[] = {"Content-Length", "Location:", "Content-Range", "Retry-After", "Transfer-Encoding", ""};
    for (const char* key : keys) {
        const vqCString* found = parser.Find(key);
        if (found) FUZZ_CHECK(found->GetString() != nullptr);
    }
    FUZZ_CHECK(parser.Find(nullptr) == nullptr);
    parser.Clear();
    FUZZ_CHECK(parser.GetCount() == 0);
    return 0;
}
