#pragma once
// The program's main window: the skinned controls at their places over the
// frame pictures, the banner, and the glue between them and
// CDownloaderDlgLogic, which decides everything the window does. The
// service's events arrive through a foreign window of the platform layer
// and are queued onto the window's own loop.

#include "app/CBannerFetcher.h"
#include "app/CDownloaderDlgLogic.h"
#include "app/ISkinBackground.h"

#include <wx/dialog.h>
#include <wx/eventfilter.h>

#include <memory>

class CButtonST;
class CExplorer1;
class CGraphCtrl;
class COXToolTipCtrl;
class CProgressST;
class CTransparentStatic2;

class CZDRDownloaderDlg : public wxDialog, public ISkinBackground, private IDownloaderView, private wxEventFilter {
public:
    enum {
        IDD = 102,
        IDC_BANNER = 1000,
        IDC_FILE_LABEL = 1002,
        IDC_REMAINING = 1003,
        IDC_TOTAL = 1005,
        IDC_FOLDER = 1007,
        IDC_BROWSE = 1008,
        IDC_CONSENT = 1010,
        IDC_START = 1011,
        IDC_CLOSE = 1012,
        IDC_FILE_PROGRESS = 1013,
        IDC_RECEIVED = 1015,
        IDC_JOB_PROGRESS = 1016,
        IDC_INSTALL = 1017,
        IDC_GRAPH = 1018,
        IDC_STATUS = 1019,
        IDC_ELAPSED = 1020,
    };
    static constexpr int kClientWidth = 748;
    static constexpr int kClientHeight = 437;
    // A press this close to the top moves the window.
    static constexpr int kDragBand = 28;

    CZDRDownloaderDlg(const CDownloaderDlgLogic::Settings& settings, IDlService& service, IDesktopShell& shell);
    ~CZDRDownloaderDlg() override;

    const CDownloaderDlgLogic& Logic() const { return m_logic; }
    CDownloaderDlgLogic& Logic() { return m_logic; }
    // True once the window has been asked to end (also before it runs modally).
    bool EndRequested() const { return m_bEndRequested; }
    // The service's events as the foreign window hands them over (any thread).
    void QueueDlEvent(int code, int param);
    // The window the service posts its events to.
    HWND EventWindow() const { return m_hEventWindow; }

    // ISkinBackground: the four frame pictures.
    void DrawSkinBackground(wxDC& dc, const wxRect& area) const override;

    // Brings the window forward (a second start asked for it).
    void Activate();

private:
    // IDownloaderView
    void SetTitle(const std::string& title) override;
    void ShowTexts(const Texts& texts) override;
    void SetButtons(const Buttons& buttons) override;
    void SetProgress(int filePercent, int jobPercent) override;
    void AddGraphSample(int value) override;
    void SetConsentChecked(bool checked) override;
    void NavigateBanner(const std::string& url) override;
    void HighlightStatus() override;
    void ShowFinalStatus() override;
    void CentreOnScreen() override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    bool ChooseFolder(const std::string& title, const std::string& initial,
                      const std::function<std::string(const std::string&)>& statusText,
                      std::string* chosen) override;
    void AskResume(bool* resume, bool* applyToAll) override;
    void PostRefresh() override;
    void PostRunInstaller() override;
    void PostQuit() override;
    void EndDialog() override;

    // wxEventFilter: the tooltip hears the mouse and keys of our windows.
    int FilterEvent(wxEvent& event) override;

    void CreateControls();
    // The window's set-up, once, when it is first shown (or sooner, for
    // whoever sends wxEVT_INIT_DIALOG): the service starts, the list is asked for.
    void OnInitDialog(wxInitDialogEvent& event);
    void End(int code);
    void OnPaint(wxPaintEvent& event);
    void OnDlEvent(wxThreadEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);

    static void DeliverDlEvent(void* owner, const MSG& msg);

    CDownloaderDlgLogic m_logic;
    CBannerFetcher m_banner;
    HWND m_hEventWindow = nullptr;
    bool m_bInitialized = false;
    bool m_bFinalized = false;
    bool m_bEndRequested = false;
    bool m_bDragging = false;
    wxPoint m_ptDragOffset;
    bool m_bStopPictures = false;
    wxFont m_fontBold;
    wxFont m_fontDotum;
    wxBitmap m_frames[4];
    wxPoint m_frameOrigins[4];

    CExplorer1* m_pBanner = nullptr;
    CTransparentStatic2* m_pFileLabel = nullptr;
    CTransparentStatic2* m_pReceived = nullptr;
    CTransparentStatic2* m_pTotal = nullptr;
    CTransparentStatic2* m_pElapsed = nullptr;
    CTransparentStatic2* m_pRemaining = nullptr;
    CTransparentStatic2* m_pStatus = nullptr;
    CTransparentStatic2* m_pFolder = nullptr;
    CGraphCtrl* m_pGraph = nullptr;
    CProgressST* m_pFileProgress = nullptr;
    CProgressST* m_pJobProgress = nullptr;
    CButtonST* m_pBrowse = nullptr;
    CButtonST* m_pConsent = nullptr;
    CButtonST* m_pStart = nullptr;
    CButtonST* m_pInstall = nullptr;
    CButtonST* m_pClose = nullptr;
    COXToolTipCtrl* m_pToolTip = nullptr;
};
