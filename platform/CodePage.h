#pragma once
// The system code page: the text encoding of narrow strings that the service
// and its callers exchange. On this platform it is the codeset of the
// LC_CTYPE locale named by the environment (normally "UTF-8"), as iconv
// names it.

#include <string>

// The codeset of the locale the environment names now (LC_ALL, LC_CTYPE,
// LANG); "ANSI_X3.4-1968" (ASCII) when it names no usable locale.
std::string SystemCodeSet();

// Pins the codeset to an iconv name (tests); null goes back to the locale's.
void SetSystemCodeSetForTesting(const char* codeset);
