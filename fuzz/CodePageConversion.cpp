// The code-page conversions on any bytes, under the system code pages the
// downloader meets (UTF-8, the Korean and Chinese ones, Latin-1). Checked:
// conversions always succeed (these code sets have converters) and drop
// nothing; under UTF-8 both are the identity; under Latin-1, where every byte
// is a character, text comes back unchanged from UTF-8 and back.
//
// Input: byte 0 picks the code set, the rest is the text (cut at its first
// NUL, as the conversions read it).

#include "FuzzCheck.h"
#include "netlib/http/CodePageConversion.h"
#include "platform/CodePage.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    static const char* const kCodeSets[] = {"UTF-8", "CP949", "EUC-KR", "BIG5", "ISO-8859-1"};
    const char* codeset = kCodeSets[data[0] % (sizeof kCodeSets / sizeof kCodeSets[0])];
    SetSystemCodeSetForTesting(codeset);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::string text(bytes, strnlen(bytes, size - 1));

    vqCString utf8, ansi;
    FUZZ_CHECK(AnsiToUtf8(text.c_str(), utf8) == VQ_OK_PLATFORM);
    FUZZ_CHECK(Utf8ToAnsi(text.c_str(), ansi) == VQ_OK_PLATFORM);
    FUZZ_CHECK(text.empty() == utf8.IsEmpty() && text.empty() == ansi.IsEmpty());
    FUZZ_CHECK(strlen(utf8.GetString()) == utf8.GetLength() && strlen(ansi.GetString()) == ansi.GetLength());
    if (strcmp(codeset, "UTF-8") == 0) {
        FUZZ_CHECK(text == utf8.GetString() && text == ansi.GetString());
    } else if (strcmp(codeset, "ISO-8859-1") == 0) {
        vqCString back;
        FUZZ_CHECK(Utf8ToAnsi(utf8.GetString(), back) == VQ_OK_PLATFORM && text == back.GetString());
    }
    vqCString empty;
    FUZZ_CHECK(AnsiToUtf8(nullptr, empty) == VQ_OK_PLATFORM && empty.IsEmpty());
    SetSystemCodeSetForTesting(nullptr);
    return 0;
}
