// The URI codec on any text: the length asked with a null destination is the
// length written; encoding keeps only the 68 kept bytes and "%XX"; decoding
// what was encoded gives the text back; decoding never grows a text. The
// in-place forms agree with the two-call forms.
//
// Input: the text (cut at its first NUL, as the codec reads it).

#include "FuzzCheck.h"
#include "netlib/http/utCUriCodec.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Both calls, as callers make them: the length first, then the text.
bool Run(bool encode, const std::string& source, std::string* out)
{
    utCUriCodec codec;
    int32_t length = -1;
    const vqRESULT asked = encode ? codec.Encode(source.c_str(), nullptr, &length) : codec.Decode(source.c_str(), nullptr, &length);
    if (VQ_FAILED(asked)) {
        FUZZ_CHECK(source.empty());
        return false;
    }
    FUZZ_CHECK(length >= 0);
    std::vector<char> buffer(static_cast<size_t>(length) + 1, 'x');
    int32_t written = -1;
    const vqRESULT done = encode ? codec.Encode(source.c_str(), buffer.data(), &written)
                                 : codec.Decode(source.c_str(), buffer.data(), &written);
    FUZZ_CHECK(VQ_SUCCEEDED(done) && written == length && buffer[static_cast<size_t>(length)] == '\0');
    out->assign(buffer.data(), static_cast<size_t>(length));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    std::string encoded, decoded, back;
    if (!Run(true, text, &encoded)) return 0;
    for (size_t i = 0; i < encoded.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(encoded[i]);
        if (ch == '%') {
            FUZZ_CHECK(i + 2 < encoded.size());
            FUZZ_CHECK(isxdigit(static_cast<unsigned char>(encoded[i + 1])) && isxdigit(static_cast<unsigned char>(encoded[i + 2])));
            FUZZ_CHECK(!islower(static_cast<unsigned char>(encoded[i + 1])) && !islower(static_cast<unsigned char>(encoded[i + 2])));
            i += 2;
        } else {
            FUZZ_CHECK(utCUriCodec::IsKept(ch));
        }
    }
    FUZZ_CHECK(Run(false, encoded, &back) && back == text);
    FUZZ_CHECK(Run(false, text, &decoded));
    FUZZ_CHECK(decoded.size() <= text.size());

    utCUriCodec codec;
    vqCString inPlace(text.c_str());
    FUZZ_CHECK(VQ_SUCCEEDED(codec.EncodeInPlace(inPlace)) && encoded == inPlace.GetString());
    inPlace = text.c_str();
    // A decoded "%00" ends the C string there.
    FUZZ_CHECK(VQ_SUCCEEDED(codec.DecodeInPlace(inPlace)) && std::string(decoded.c_str()) == inPlace.GetString());
    return 0;
}
