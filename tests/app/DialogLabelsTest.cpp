// Our message boxes and the folder chooser name their buttons in Traditional
// Chinese, whatever the locale's stock labels would be.

#include "AppTestDisplay.h"

#include "app/CFolderChooserDlg.h"
#include "app/DialogLabels.h"

#include <wx/button.h>
#include <wx/msgdlg.h>

#include <filesystem>
#include <vector>

namespace {

class DialogLabelsTest : public AppDisplayTest {};

wxString U(const char* utf8)
{
    return wxString::FromUTF8(utf8);
}

TEST_F(DialogLabelsTest, EveryButtonOfAMessageBoxHasItsChineseLabel)
{
    struct Case {
        long style;
        std::vector<std::pair<const char*, wxString>> labels; // which button, its label
    };
    const std::vector<Case> cases = {
        {wxOK, {{"ok", U("確定")}}},
        {wxOK | wxCANCEL, {{"ok", U("確定")}, {"cancel", U("取消")}}},
        {wxYES_NO | wxICON_INFORMATION, {{"yes", U("是")}, {"no", U("否")}}},
        {wxYES_NO | wxCANCEL, {{"yes", U("是")}, {"no", U("否")}, {"cancel", U("取消")}}},
    };
    for (const Case& c : cases) {
        wxMessageDialog box(m_pFrame, "text", "caption", c.style);
        DialogLabels::Apply(box);
        for (const auto& [button, label] : c.labels) {
            const std::string which = button;
            const wxString shown = which == "ok"    ? box.GetOKLabel()
                                   : which == "yes" ? box.GetYesLabel()
                                   : which == "no"  ? box.GetNoLabel()
                                                    : box.GetCancelLabel();
            EXPECT_EQ(shown, label) << c.style << " " << which;
        }
    }
}

TEST_F(DialogLabelsTest, TheFolderChoosersButtonsAreChinese)
{
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "zdr-chooser-labels";
    std::filesystem::create_directories(root);
    CFolderChooserDlg chooser(m_pFrame, "VX2", U("選擇資料夾"), root.string(), [](const std::string&) { return ""; });
    auto* ok = dynamic_cast<wxButton*>(chooser.FindWindow(wxID_OK));
    auto* cancel = dynamic_cast<wxButton*>(chooser.FindWindow(wxID_CANCEL));
    ASSERT_NE(ok, nullptr);
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(ok->GetLabel(), U("確定"));
    EXPECT_EQ(cancel->GetLabel(), U("取消"));
    std::filesystem::remove_all(root);
}

} // namespace
