#include "netlib/http/utCUriCodec.h"

#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr size_t kMaxResult = static_cast<size_t>(std::numeric_limits<int32_t>::max());

int HexValue(unsigned char byte)
{
    if (byte >= '0' && byte <= '9') return byte - '0';
    if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
    if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
    return -1;
}

// Writes through out when it is not null and answers the result's length.
size_t DecodeTo(const unsigned char* source, size_t size, char* out)
{
    size_t written = 0;
    size_t i = 0;
    while (size - i > 2) {
        int high = source[i] == '%' ? HexValue(source[i + 1]) : -1;
        int low = high >= 0 ? HexValue(source[i + 2]) : -1;
        // "%00" stays as it is: a NUL in the middle would cut the text short
        // while the length still counted the bytes behind it.
        if (low >= 0 && (high | low) != 0) {
            if (out) out[written] = static_cast<char>(high << 4 | low);
            ++written;
            i += 3;
        } else {
            if (out) out[written] = static_cast<char>(source[i]);
            ++written;
            ++i;
        }
    }
    for (; i < size; ++i) {
        if (out) out[written] = static_cast<char>(source[i]);
        ++written;
    }
    return written;
}

size_t EncodeTo(const unsigned char* source, size_t size, char* out)
{
    size_t written = 0;
    for (size_t i = 0; i < size; ++i) {
        unsigned char byte = source[i];
        if (utCUriCodec::IsKept(byte)) {
            if (out) out[written] = static_cast<char>(byte);
            ++written;
        } else {
            if (out) {
                out[written] = '%';
                out[written + 1] = kHexDigits[byte >> 4];
                out[written + 2] = kHexDigits[byte & 0x0F];
            }
            written += 3;
        }
    }
    return written;
}

typedef size_t (*TransformFn)(const unsigned char*, size_t, char*);

vqRESULT Transform(TransformFn transform, const char* source, char* destination, int32_t* length)
{
    if (!source || !source[0]) return VQ_E_UTILITY;
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    size_t size = strlen(source);
    size_t resultLength = transform(bytes, size, nullptr);
    if (resultLength > kMaxResult) return VQ_E_UTILITY;
    if (destination) {
        transform(bytes, size, destination);
        destination[resultLength] = '\0';
    }
    if (length) *length = static_cast<int32_t>(resultLength);
    return VQ_OK_UTILITY;
}

vqRESULT InPlace(utCUriCodec& codec, vqRESULT (utCUriCodec::*operation)(const char*, char*, int32_t*),
                 vqCString& text)
{
    int32_t length = 0;
    vqRESULT result = (codec.*operation)(text.GetString(), nullptr, &length);
    if (VQ_FAILED(result)) return result;
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    result = (codec.*operation)(text.GetString(), buffer.data(), &length);
    if (VQ_FAILED(result)) return result;
    text.Assign(buffer.data(), static_cast<uint32_t>(length));
    return result;
}

} // namespace

bool utCUriCodec::IsKept(unsigned char byte)
{
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9'))
        return true;
    return byte == '*' || byte == '+' || byte == '-' || byte == '.' || byte == '@' || byte == '_';
}

vqRESULT utCUriCodec::Decode(const char* source, char* destination, int32_t* length)
{
    return Transform(&DecodeTo, source, destination, length);
}

vqRESULT utCUriCodec::Encode(const char* source, char* destination, int32_t* length)
{
    return Transform(&EncodeTo, source, destination, length);
}

vqRESULT utCUriCodec::DecodeInPlace(vqCString& text)
{
    return InPlace(*this, &utCUriCodec::Decode, text);
}

vqRESULT utCUriCodec::EncodeInPlace(vqCString& text)
{
    return InPlace(*this, &utCUriCodec::Encode, text);
}
