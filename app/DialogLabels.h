#pragma once
// The labels of the standard buttons of our message boxes and of the folder
// chooser. The window speaks Traditional Chinese whatever the system's
// locale, so these dialogs name their buttons themselves instead of taking
// the toolkit's stock labels, which follow the locale (English on most
// systems).

#include <wx/msgdlg.h>
#include <wx/string.h>

namespace DialogLabels {

// UTF-8.
inline constexpr const char* kOk = "確定";
inline constexpr const char* kYes = "是";
inline constexpr const char* kNo = "否";
inline constexpr const char* kCancel = "取消";

inline wxString Label(const char* utf8)
{
    return wxString::FromUTF8(utf8);
}

// Gives every button that box shows its Chinese label; call before ShowModal.
void Apply(wxMessageDialog& box);

} // namespace DialogLabels
