#include "platform/CUtf8ThreadLocale.h"

CUtf8ThreadLocale::CUtf8ThreadLocale()
{
    m_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (m_locale) m_previous = uselocale(m_locale);
}

CUtf8ThreadLocale::~CUtf8ThreadLocale()
{
    if (!m_locale) return;
    uselocale(m_previous);
    freelocale(m_locale);
}
