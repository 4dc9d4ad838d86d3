#pragma once
// What the main window does, apart from how it looks: the service's events,
// the stages from the file list to the installer, the labels, the folder
// and consent rules, the notices and the closing questions. The window
// (CZDRDownloaderDlg) forwards its clicks and the service's events here and
// shows what this class asks of IDownloaderView; the service is reached only
// through IDlService and the desktop through IDesktopShell.

#include "app/IDesktopShell.h"
#include "app/IDlService.h"
#include "app/IDownloaderView.h"

#include <string>
#include <vector>

class CDownloaderDlgLogic {
public:
    struct Settings {
        std::string fileListUrl;        // the command line's, empty for the default
        std::string defaultFileListUrl;
        std::string bannerUrl;
        std::string appCaption;         // caption of the application's own message boxes
        std::string homeFolder;         // holds the default download folder
        std::string savedFolder;        // the folder chosen last, empty for none
        std::string programFilesFolder; // holds the engine's folder
    };

    enum class Stage { FetchingList, CheckingSizes, Ready, Downloading, Completed, Installing };

    // Texts and captions the window shows.
    static constexpr const char* kWindowTitle = "VX2 Downloader";
    static constexpr const char* kCaption = "VX2";
    static constexpr const char* kPortalId = "quillet";
    static constexpr const char* kConsentTip = "超高速下載只有在下載時才會共享PC資源。";
    // A file list is a few lines of URLs; a body larger than this is no list.
    static constexpr long long kMaxListBytes = 16 * 1024 * 1024;

    CDownloaderDlgLogic(const Settings& settings, IDlService& service, IDesktopShell& shell, IDownloaderView& view);

    // The window is up: the service starts (its events go to window) and the
    // file list is asked for. False when the list could not even be asked
    // for; the window then skips the rest of its set-up.
    bool OnInitDialog(HWND window);
    void OnDlEvent(int code, int param);
    void OnRefresh();
    void OnStartClicked();
    void OnBrowseClicked();
    // The consent box has already toggled; checked is its new state.
    void OnConsentClicked(bool checked);
    void OnInstallClicked();
    void OnRunInstaller();
    // The close button or Esc.
    void OnCloseClicked();
    // The window's own close command.
    void OnCloseWindow();
    void OnDestroy();

    void StartDownload();
    void StopDownload();

    // The local path in a file-done text "<source>,<path>": the part after
    // the comma that begins the path inside folder, else after the first
    // comma, else the whole text (a source may itself hold commas).
    static std::string LocalPathOf(const std::string& text, const std::string& folder);
    // "%s [%d/%d]": the name after the URL's last '/', then the counts.
    static std::string FileLabel(const std::string& url, int current, int count);
    bool IsInstallerPath(const std::string& path) const;
    bool IsEngineFolder(const std::string& path) const;
    // The folder chooser's status text for a selected folder.
    std::string FolderStatusText(const std::string& folder) const;

    Stage GetStage() const;
    const IDownloaderView::Texts& Texts() const { return m_texts; }
    const std::vector<std::string>& FileUrls() const { return m_arrFileUrls; }
    const std::string& Consent() const { return m_strConsent; }
    const std::string& FileListUrl() const { return m_strFileListUrl; }
    const std::string& InstallerPath() const { return m_strInstallerPath; }
    const std::string& EngineExePath() const { return m_strEngineExePath; }
    int Job() const { return m_hJob; }
    int DoneFiles() const { return m_nDoneFiles; }
    int CurrentFile() const { return m_nCurrentFile; }
    long long TotalDownloadSize() const { return m_nTotalDownloadSize; }

private:
    void OnListFetched();
    bool ParseFileList(const char* body, long long length);
    void StartSizeCheck();
    void ShowTotals();
    // The folder shown before the user picks one: the one chosen last, else
    // the default under the home folder.
    std::string InitialFolder() const;
    void ShowProgress(int job);
    void OnFileDone(int job);
    void OnNotice(int job);
    void OnResumeQuestion();
    void OnJobComplete();
    void ShowFileLabel();
    void UpdateButtons();
    void StartFailed();
    bool RunInstaller(const std::string& path);
    void Message(const std::string& text, const std::string& caption);
    void Quit();

    Settings m_settings;
    IDlService& m_service;
    IDesktopShell& m_shell;
    IDownloaderView& m_view;

    std::string m_strFileListUrl;
    std::string m_strServiceId;
    std::string m_strPortalId;
    std::string m_strConsent = "2";
    std::string m_strBannerUrl;
    std::string m_strInstallerPath;
    std::string m_strEngineExePath;
    std::vector<std::string> m_arrFileUrls;
    int m_hJob = 0;
    int m_nDoneFiles = 0;
    int m_nCurrentFile = 1;
    bool m_bFinished = false;
    bool m_bInstalling = false;
    bool m_bQuitPosted = false;
    Stage m_eListStage = Stage::FetchingList;
    // The size check's total: the folder chooser shows it.
    long long m_nTotalDownloadSize = 0;
    // The folder the running job downloads into: an installer must be there.
    std::string m_strJobFolder;
    IDownloaderView::Texts m_texts;
};
