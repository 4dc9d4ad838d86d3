#include "app/SystemText.h"

#include "platform/CodePage.h"

#include <wx/strconv.h>
#include <wx/string.h>

namespace {

bool SystemIsUtf8()
{
    const wxString codeset = wxString(SystemCodeSet()).Upper();
    return codeset == "UTF-8" || codeset == "UTF8";
}

} // namespace

std::string ToSystemText(const std::string& utf8)
{
    if (SystemIsUtf8()) return utf8;
    const wxCharBuffer converted = wxString::FromUTF8(utf8.c_str()).mb_str(wxCSConv(SystemCodeSet()));
    return converted.data() ? std::string(converted.data()) : std::string();
}

std::string FromSystemText(const std::string& text)
{
    if (SystemIsUtf8()) return text;
    const wxString converted(text.c_str(), wxCSConv(SystemCodeSet()));
    return std::string(converted.utf8_str());
}
