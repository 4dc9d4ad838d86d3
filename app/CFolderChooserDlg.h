#pragma once
// The download folder's chooser: a folder tree with the required size above
// it and a status text that follows the selection (the required size and
// the selected folder's free space). The toolkit's own folder dialog cannot
// show such a text, so the tree is wx's generic one in a dialog of ours.

#include <wx/dialog.h>
#include <wx/dirctrl.h>
#include <wx/stattext.h>

#include <functional>
#include <string>

class CFolderChooserDlg : public wxDialog {
public:
    enum { IDC_TITLE = 14145, IDC_STATUS = 14146, IDC_TREE = 14147 };
    // Text for the status line while folder (UTF-8, ending in '/') is selected.
    using StatusText = std::function<std::string(const std::string& folder)>;

    CFolderChooserDlg(wxWindow* parent, const wxString& caption, const wxString& title, const wxString& initial,
                      StatusText statusText);

    // The selected folder (no trailing '/' unless it is the root).
    wxString GetPath() const { return m_pTree->GetPath(); }
    void SetPath(const wxString& path);
    wxString StatusShown() const { return m_pStatus->GetLabel(); }

private:
    void OnSelectionChanged(wxTreeEvent& event);
    void ShowStatus();

    wxGenericDirCtrl* m_pTree = nullptr;
    wxStaticText* m_pStatus = nullptr;
    StatusText m_statusText;
};
