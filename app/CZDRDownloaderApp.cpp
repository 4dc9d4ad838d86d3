#include "app/CZDRDownloaderApp.h"

#include "app/CDesktopShell.h"
#include "app/CDlService.h"
#include "app/CZDRDownloaderDlg.h"
#include "app/DialogLabels.h"
#include "app/SystemText.h"
#include "platform/CSingleInstance.h"
#include "platform/UserFolders.h"
#include "service/DlDefaults.h"

#include <wx/filename.h>
#include <wx/msgdlg.h>

#include <memory>

std::string CZDRDownloaderApp::InstanceName(const std::string& product, const std::string& defaultListUrl)
{
    std::string name = product + "::" + defaultListUrl;
    // Whole characters only: the URL may hold more than ASCII.
    const wxString wide = wxString::FromUTF8(name.c_str());
    if (wide.length() > kMaxInstanceName) name = std::string(wide.Left(kMaxInstanceName).utf8_str());
    return name;
}

bool CZDRDownloaderApp::OnInit()
{
    // wx's own command-line options are not ours: the parser takes every parameter.
    std::vector<std::string> args;
    std::vector<const char*> argv;
    for (int i = 0; i < this->argc; ++i) args.emplace_back(this->argv[i].utf8_str());
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    m_cmdInfo.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    m_strCaption = args.empty() ? std::string() : std::string(wxFileName(wxString::FromUTF8(args[0].c_str())).GetName().utf8_str());
    return true;
}

int CZDRDownloaderApp::OnRun()
{
    const std::string caption = m_strCaption;
    auto instance = std::make_unique<CSingleInstance>();
    // The default URL, even when the command line names another list: one
    // download at a time, whichever list it follows.
    const CSingleInstance::Result lock = instance->Acquire(InstanceName(kDlProductName, DefaultFileListUrl()));
    if (lock == CSingleInstance::AlreadyRunning) {
        wxMessageDialog box(nullptr, wxString::FromUTF8(kAlreadyRunning), wxString::FromUTF8(caption.c_str()), wxOK);
        DialogLabels::Apply(box);
        box.ShowModal();
        instance->ActivateOwner();
        return 0;
    }

    CDownloaderDlgLogic::Settings settings;
    settings.fileListUrl = m_cmdInfo.FileListUrl();
    settings.defaultFileListUrl = DefaultFileListUrl();
    settings.bannerUrl = "http://" + PortalHost() + "/download/vx2/zdrdownload/VX2_TW.gif";
    settings.appCaption = caption;
    settings.homeFolder = UserHomeFolder();
    settings.savedFolder = FromSystemText(SavedDownloadFolder());
    settings.programFilesFolder = "/opt/";
    CDlService service;
    CDesktopShell shell;
    auto dialog = std::make_unique<CZDRDownloaderDlg>(settings, service, shell);
    CZDRDownloaderDlg* window = dialog.get();
    SetTopWindow(window);
    if (lock == CSingleInstance::Owner) {
        instance->ListenForActivation([window] { window->CallAfter([window] { window->Activate(); }); });
    }
    window->ShowModal();
    // The lock stays until the process ends; only the listener stops, before
    // the window goes, so no request reaches a window that is gone.
    instance->StopListening();
    dialog.reset();
    return 0;
}
