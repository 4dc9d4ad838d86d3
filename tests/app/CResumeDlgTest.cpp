#include "AppTestDisplay.h"

#include "app/CResumeDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>

#include <functional>

namespace {

class ResumeDlgTest : public AppDisplayTest {
protected:
    // Runs the prompt modally; `user` acts once the modal loop runs.
    void Run(CResumeDlg& dialog, std::function<void()> user)
    {
        dialog.CallAfter(std::move(user));
        dialog.ShowModal();
    }

    static void Click(CResumeDlg& dialog, int id)
    {
        wxWindow* button = dialog.FindWindow(id);
        wxCommandEvent click(wxEVT_BUTTON, id);
        click.SetEventObject(button);
        button->ProcessWindowEvent(click);
    }

    static wxCheckBox* Box(CResumeDlg& dialog)
    {
        return static_cast<wxCheckBox*>(dialog.FindWindow(CResumeDlg::IDC_APPLY_ALL));
    }
};

TEST_F(ResumeDlgTest, ConfirmWithTheBoxLeftCheckedContinuesForAllFiles)
{
    CResumeDlg dialog;
    Run(dialog, [&] { Click(dialog, CResumeDlg::IDC_CONFIRM); });
    EXPECT_TRUE(dialog.Resume());
    EXPECT_TRUE(dialog.ApplyToAll());
}

TEST_F(ResumeDlgTest, CancelAfterUncheckingStopsForThisFileOnly)
{
    CResumeDlg dialog;
    Run(dialog, [&] {
        Box(dialog)->SetValue(false);
        Click(dialog, CResumeDlg::IDC_CANCEL);
    });
    EXPECT_FALSE(dialog.Resume());
    EXPECT_FALSE(dialog.ApplyToAll());
}

TEST_F(ResumeDlgTest, EscKeepsTheStartingAnswersWhateverTheBoxShows)
{
    CResumeDlg dialog;
    Run(dialog, [&] {
        Box(dialog)->SetValue(false);
        wxKeyEvent esc(wxEVT_CHAR_HOOK);
        esc.m_keyCode = WXK_ESCAPE;
        esc.SetEventObject(&dialog);
        dialog.ProcessWindowEvent(esc);
    });
    EXPECT_FALSE(dialog.IsModal());
    EXPECT_TRUE(dialog.Resume());
    EXPECT_TRUE(dialog.ApplyToAll());
}

TEST_F(ResumeDlgTest, TextsCaptionAndCheckedBox)
{
    CResumeDlg dialog;
    EXPECT_EQ(dialog.GetTitle(), wxString::FromUTF8("이어받기 "));
    EXPECT_FALSE(dialog.HasFlag(wxCLOSE_BOX));
    EXPECT_FALSE(dialog.HasFlag(wxSYSTEM_MENU));
    EXPECT_EQ(dialog.FindWindow(CResumeDlg::IDC_TEXT_EXISTS)->GetLabel(), wxString::FromUTF8("下載的檔案已存在。"));
    EXPECT_EQ(dialog.FindWindow(CResumeDlg::IDC_TEXT_QUESTION)->GetLabel(),
              wxString::FromUTF8("是否繼續上次的下載？"));
    EXPECT_EQ(Box(dialog)->GetLabel(), wxString::FromUTF8("適用整體檔案"));
    EXPECT_TRUE(Box(dialog)->GetValue());
    EXPECT_EQ(dialog.FindWindow(CResumeDlg::IDC_CONFIRM)->GetLabel(), wxString::FromUTF8("確認"));
    EXPECT_EQ(dialog.FindWindow(CResumeDlg::IDC_CANCEL)->GetLabel(), wxString::FromUTF8("取消"));
}

} // namespace
