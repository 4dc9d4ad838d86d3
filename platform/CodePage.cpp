#include "platform/CodePage.h"

#include <langinfo.h>
#include <locale.h>

#include <mutex>

namespace {

std::mutex g_mutex;
std::string g_override;

// newlocale + nl_langinfo_l answer what setlocale(LC_CTYPE, "") followed by
// nl_langinfo(CODESET) would, without changing the process-wide locale under
// other threads' feet.
std::string LocaleCodeSet()
{
    locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) return "ANSI_X3.4-1968";
    const char* codeset = nl_langinfo_l(CODESET, locale);
    std::string result = codeset && codeset[0] ? codeset : "ANSI_X3.4-1968";
    freelocale(locale);
    return result;
}

} // namespace

std::string SystemCodeSet()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_override.empty()) return g_override;
    }
    return LocaleCodeSet();
}

void SetSystemCodeSetForTesting(const char* codeset)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = codeset ? codeset : "";
}
