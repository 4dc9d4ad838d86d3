#pragma once
// Percent-encoding of request targets, query parameters and header values,
// and percent-decoding of response header values.
//
// Encode keeps the 68 bytes A-Z, a-z, 0-9 and * + - . @ _ and writes every
// other byte as "%" and two upper-case hex digits. Decode turns "%" followed
// by two hex digits (either case) into the byte they denote and copies
// everything else, malformed escapes included; "+" stays "+".
//
// Both take a NUL-terminated source and answer VQ_E_UTILITY for a null or
// empty source (nothing written). *length receives the result's length
// without terminator. With a destination, the result and a NUL are written
// to it, so it must hold *length + 1 bytes: call once with a null
// destination to learn the length, then again with a buffer of that size + 1.
// The codec keeps no state; make one on the stack where it is needed.

#include "netlib/core/vqCString.h"
#include "netlib/core/vqResult.h"

#include <cstdint>

class utCUriCodec {
public:
    virtual vqRESULT Decode(const char* source, char* destination, int32_t* length);
    virtual vqRESULT Encode(const char* source, char* destination, int32_t* length);
    virtual ~utCUriCodec() = default;

    // Replace text with its decoded or encoded form on success; an empty text
    // stays empty (and answers VQ_E_UTILITY).
    vqRESULT DecodeInPlace(vqCString& text);
    vqRESULT EncodeInPlace(vqCString& text);

    static bool IsKept(unsigned char byte);
};
