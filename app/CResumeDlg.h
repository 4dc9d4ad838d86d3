#pragma once
// The question asked when a partial download of a file exists: continue it
// or not, and whether the answer holds for every file of the job. Run it
// with ShowModal, then read Resume() and ApplyToAll().

#include "app/CResumeAnswer.h"

#include <wx/checkbox.h>
#include <wx/dialog.h>

class CResumeDlg : public wxDialog {
public:
    enum { IDC_APPLY_ALL = 1019, IDC_CONFIRM = 1020, IDC_CANCEL = 1021, IDC_TEXT_EXISTS = 1022,
           IDC_TEXT_QUESTION = 1023 };

    explicit CResumeDlg(wxWindow* parent = nullptr);

    bool Resume() const { return m_answer.Resume(); }
    bool ApplyToAll() const { return m_answer.ApplyToAll(); }

private:
    void OnConfirm(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);

    CResumeAnswer m_answer;
    wxCheckBox* m_pApplyToAll = nullptr;
};
