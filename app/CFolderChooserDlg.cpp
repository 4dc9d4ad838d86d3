#include "app/CFolderChooserDlg.h"

#include "app/DialogLabels.h"

#include <wx/button.h>
#include <wx/sizer.h>

CFolderChooserDlg::CFolderChooserDlg(wxWindow* parent, const wxString& caption, const wxString& title,
                                     const wxString& initial, StatusText statusText)
    : wxDialog(parent, wxID_ANY, caption, wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_statusText(std::move(statusText))
{
    auto* column = new wxBoxSizer(wxVERTICAL);
    // The title carries a line break of its own; the status line below shows two lines.
    column->Add(new wxStaticText(this, IDC_TITLE, title.Strip(wxString::trailing)), 0, wxALL, 8);
    m_pStatus = new wxStaticText(this, IDC_STATUS, " \n ");
    column->Add(m_pStatus, 0, wxLEFT | wxRIGHT | wxBOTTOM | wxEXPAND, 8);
    m_pTree = new wxGenericDirCtrl(this, IDC_TREE, wxDirDialogDefaultFolderStr, wxDefaultPosition, wxSize(360, 320),
                                   wxDIRCTRL_DIR_ONLY | wxDIRCTRL_3D_INTERNAL);
    column->Add(m_pTree, 1, wxLEFT | wxRIGHT | wxEXPAND, 8);
    auto* buttons = new wxStdDialogButtonSizer();
    buttons->AddButton(new wxButton(this, wxID_OK, DialogLabels::Label(DialogLabels::kOk)));
    buttons->AddButton(new wxButton(this, wxID_CANCEL, DialogLabels::Label(DialogLabels::kCancel)));
    buttons->Realize();
    column->Add(buttons, 0, wxALL | wxEXPAND, 8);
    SetSizerAndFit(column);
    Bind(wxEVT_DIRCTRL_SELECTIONCHANGED, &CFolderChooserDlg::OnSelectionChanged, this);
    SetPath(initial);
    CentreOnParent();
}

void CFolderChooserDlg::SetPath(const wxString& path)
{
    m_pTree->SetPath(path);
    ShowStatus();
}

void CFolderChooserDlg::OnSelectionChanged(wxTreeEvent& event)
{
    event.Skip();
    ShowStatus();
}

void CFolderChooserDlg::ShowStatus()
{
    wxString folder = m_pTree->GetPath();
    if (folder.empty()) return;
    if (!folder.EndsWith("/")) folder += "/";
    m_pStatus->SetLabel(wxString::FromUTF8(m_statusText(std::string(folder.utf8_str())).c_str()));
}
