#pragma once
// For the life of the object the calling thread's C library works in a UTF-8
// character locale (other threads are not affected). Libraries that convert
// names through the locale (libarchive turns 7z's UTF-16 names into the
// locale's encoding) then give UTF-8 whatever locale the process runs in;
// in the plain "C" locale they would fail on any non-ASCII name.

#include <locale.h>

class CUtf8ThreadLocale {
public:
    CUtf8ThreadLocale();
    ~CUtf8ThreadLocale();
    CUtf8ThreadLocale(const CUtf8ThreadLocale&) = delete;
    CUtf8ThreadLocale& operator=(const CUtf8ThreadLocale&) = delete;

    // False when no UTF-8 locale exists; the thread's locale is unchanged.
    bool IsActive() const { return m_locale != nullptr; }

private:
    locale_t m_locale = nullptr;
    locale_t m_previous = nullptr;
};
