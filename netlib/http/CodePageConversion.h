#pragma once
// Conversions between the system code page (the locale's codeset) and UTF-8,
// for request targets going out and redirect locations coming in.
//
// Both answer VQ_OK_PLATFORM and store the whole converted text in out; a
// null or empty source gives an empty out. They answer VQ_E_PLATFORM, with
// out emptied, only when the system has no converter for the codeset.
//
// Nothing of the source is dropped: a byte that is not valid in the source
// encoding is copied to out unchanged, so that bytes which came in
// percent-escaped go out with the same escapes; a character the target
// codeset cannot represent becomes one "?".

#include "netlib/core/vqCString.h"
#include "netlib/core/vqResult.h"

vqRESULT AnsiToUtf8(const char* source, vqCString& out);
vqRESULT Utf8ToAnsi(const char* source, vqCString& out);
