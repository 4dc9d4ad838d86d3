#include "app/CResumeDlg.h"

#include <wx/button.h>
#include <wx/stattext.h>

CResumeDlg::CResumeDlg(wxWindow* parent)
    // A caption without a close box: the question must be answered.
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8("이어받기 "), wxDefaultPosition, wxDefaultSize, wxCAPTION)
{
    // Laid out in dialog units, as the window's font scales them.
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    SetClientSize(size(154, 80));
    new wxStaticText(this, IDC_TEXT_EXISTS, wxString::FromUTF8("下載的檔案已存在。"), at(20, 12), size(114, 8),
                     wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    new wxStaticText(this, IDC_TEXT_QUESTION, wxString::FromUTF8("是否繼續上次的下載？"), at(34, 23), size(86, 8),
                     wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    m_pApplyToAll = new wxCheckBox(this, IDC_APPLY_ALL, wxString::FromUTF8("適用整體檔案"), at(44, 37), size(66, 10));
    m_pApplyToAll->SetValue(m_answer.ApplyToAll());
    new wxButton(this, IDC_CONFIRM, wxString::FromUTF8("確認"), at(18, 53), size(50, 14));
    new wxButton(this, IDC_CANCEL, wxString::FromUTF8("取消"), at(86, 52), size(50, 14));
    // Esc is ours (OnCharHook), not wx's implicit cancel.
    SetEscapeId(wxID_NONE);
    Bind(wxEVT_BUTTON, &CResumeDlg::OnConfirm, this, IDC_CONFIRM);
    Bind(wxEVT_BUTTON, &CResumeDlg::OnCancel, this, IDC_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, &CResumeDlg::OnClose, this);
    Bind(wxEVT_CHAR_HOOK, &CResumeDlg::OnCharHook, this);
    CentreOnScreen();
}

void CResumeDlg::OnConfirm(wxCommandEvent&)
{
    m_answer.Confirm();
    Close();
}

void CResumeDlg::OnCancel(wxCommandEvent&)
{
    m_answer.Cancel();
    Close();
}

void CResumeDlg::OnClose(wxCloseEvent&)
{
    m_answer.Close(m_pApplyToAll->GetValue());
    EndModal(wxID_CANCEL);
}

// Esc ends the prompt without the close step: the answers keep their
// starting values (continue, for every file), whatever the box shows.
void CResumeDlg::OnCharHook(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_ESCAPE) {
        EndModal(wxID_CANCEL);
        return;
    }
    event.Skip();
}
