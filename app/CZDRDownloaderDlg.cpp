#include "app/CZDRDownloaderDlg.h"

#include "app/CButtonST.h"
#include "app/CExplorer1.h"
#include "app/CFolderChooserDlg.h"
#include "app/DialogLabels.h"
#include "app/CGraphCtrl.h"
#include "app/COXToolTipCtrl.h"
#include "app/CProgressST.h"
#include "app/CResumeDlg.h"
#include "app/CSkinImages.h"
#include "app/CTransparentStatic2.h"
#include "app/ResourceIds.h"
#include "platform/MessageLoop.h"

#include <wx/dcbuffer.h>
#include <wx/fontenum.h>
#include <wx/iconbndl.h>
#include <wx/msgdlg.h>

namespace {

constexpr int kDlEventId = 11024;
const wxColour kMagenta(0xFF, 0x00, 0xFF);
// The final status: yellow over the panel.
const wxColour kStatusYellow(0xFF, 0xFF, 0x00);

wxString Wide(const std::string& utf8)
{
    return wxString::FromUTF8(utf8.c_str());
}

// The window's own faces where the system has them, else faces that the
// project's setup installs with the same character coverage.
wxString Face(const char* wanted, const char* standIn)
{
    const wxString face = wxString::FromUTF8(wanted);
    return wxFontEnumerator::IsValidFacename(face) ? face : wxString(standIn);
}

} // namespace

CZDRDownloaderDlg::CZDRDownloaderDlg(const CDownloaderDlgLogic::Settings& settings, IDlService& service,
                                     IDesktopShell& shell)
    : m_logic(settings, service, shell, *this), m_banner(*this)
{
    // No system caption: the top frame picture is the caption, and the top
    // band of the window moves it.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(nullptr, IDD, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
    // Every size the icon is drawn at: the desktop picks the one it shows
    // in the task bar, the switcher or the title without scaling.
    wxIconBundle icons;
    for (int id : {IDI_APP, IDI_APP_48, IDI_APP_64, IDI_APP_128, IDI_APP_256}) {
        wxIcon icon;
        icon.CopyFromBitmap(CSkinImages::Load(id));
        icons.AddIcon(icon);
    }
    SetIcons(icons);
    SetClientSize(kClientWidth, kClientHeight);
    SetEscapeId(wxID_NONE);
    m_fontBold = wxFont(wxFontInfo(wxSize(0, 13)).FaceName(Face("Verdana", "DejaVu Sans")).Bold());
    m_fontDotum = wxFont(wxFontInfo(wxSize(0, 12)).FaceName(Face("돋움", "Noto Sans CJK TC")));
    CreateControls();
    m_hEventWindow = CreateForeignWindow(&CZDRDownloaderDlg::DeliverDlEvent, this);

    Bind(wxEVT_INIT_DIALOG, &CZDRDownloaderDlg::OnInitDialog, this);
    Bind(wxEVT_PAINT, &CZDRDownloaderDlg::OnPaint, this);
    Bind(wxEVT_THREAD, &CZDRDownloaderDlg::OnDlEvent, this, kDlEventId);
    Bind(wxEVT_CHAR_HOOK, &CZDRDownloaderDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CZDRDownloaderDlg::OnClose, this);
    Bind(wxEVT_LEFT_DOWN, &CZDRDownloaderDlg::OnLeftDown, this);
    Bind(wxEVT_MOTION, &CZDRDownloaderDlg::OnMotion, this);
    Bind(wxEVT_LEFT_UP, &CZDRDownloaderDlg::OnLeftUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CZDRDownloaderDlg::OnCaptureLost, this);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic.OnStartClicked(); }, IDC_START);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic.OnBrowseClicked(); }, IDC_BROWSE);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) { m_logic.OnConsentClicked(event.GetInt() != 0); },
         IDC_CONSENT);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic.OnInstallClicked(); }, IDC_INSTALL);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic.OnCloseClicked(); }, IDC_CLOSE);
    wxEvtHandler::AddFilter(this);
    wxDialog::CentreOnScreen();
}

CZDRDownloaderDlg::~CZDRDownloaderDlg()
{
    wxEvtHandler::RemoveFilter(this);
    if (m_pToolTip) m_pToolTip->Hide();
    // The service ends before its event window: nothing is posted to a window that is gone.
    m_bFinalized = true;
    m_logic.OnDestroy();
    DestroyMessageWindow(m_hEventWindow);
}

void CZDRDownloaderDlg::CreateControls()
{
    const int frameIds[4] = {IDB_FRAME_TOP, IDB_FRAME_BOTTOM, IDB_FRAME_LEFT, IDB_FRAME_RIGHT};
    const wxPoint frameOrigins[4] = {{0, 0}, {0, 416}, {0, 20}, {363, 20}};
    for (int i = 0; i < 4; ++i) {
        m_frames[i] = CSkinImages::Load(frameIds[i]);
        m_frameOrigins[i] = frameOrigins[i];
    }

    // The banner's rectangle as far as it is not under the frame pictures.
    m_pBanner = new CExplorer1(this, IDC_BANNER, wxPoint(9, 21), wxSize(354, 395));
    m_pBanner->SetBackgroundColour(wxColour(0x09, 0x11, 0x1C));
    m_pBanner->SetFetcher([this](const wxString& url, CExplorer1::Done done) { m_banner.Fetch(url, std::move(done)); });

    auto text = [this](int id, int x, int y, int w, int h, const wxFont& font) {
        auto* label = new CTransparentStatic2(this, id, wxEmptyString, wxPoint(x, y), wxSize(w, h));
        label->SetFont(font);
        return label;
    };
    m_pFileLabel = text(IDC_FILE_LABEL, 456, 28, 263, 14, m_fontBold);
    m_pReceived = text(IDC_RECEIVED, 456, 59, 263, 14, m_fontBold);
    m_pTotal = text(IDC_TOTAL, 456, 90, 263, 14, m_fontBold);
    m_pElapsed = text(IDC_ELAPSED, 460, 134, 85, 14, m_fontBold);
    m_pRemaining = text(IDC_REMAINING, 634, 134, 85, 14, m_fontBold);
    m_pStatus = text(IDC_STATUS, 456, 173, 270, 14, m_fontBold);
    m_pFolder = text(IDC_FOLDER, 447, 356, 201, 14, m_fontDotum);

    m_pGraph = new CGraphCtrl(this, IDC_GRAPH, wxPoint(385, 191), wxSize(342, 69));

    auto progress = [this](int id, int y) {
        auto* bar = new CProgressST(this, id, wxPoint(441, y), wxSize(286, 18));
        bar->SetBitmaps(IDB_PROGRESS_BAR, IDB_PROGRESS_BACKGROUND, false);
        bar->SetRange(0, 100);
        bar->SetPos(0);
        bar->SetTextFormat("%d%%", CProgressState::TextPercent);
        bar->SetTextFont(&m_fontBold);
        return bar;
    };
    m_pFileProgress = progress(IDC_FILE_PROGRESS, 282);
    m_pJobProgress = progress(IDC_JOB_PROGRESS, 312);

    auto button = [this](int id, int x, int y, int in, int out, int disabled) {
        auto* skinned = new CButtonST(this, id, wxEmptyString, wxPoint(x, y));
        skinned->SetBitmaps(in, kMagenta, out, kMagenta, disabled, kMagenta);
        skinned->DrawBorder(false, false);
        skinned->DrawTransparent(false);
        skinned->SizeToContent();
        return skinned;
    };
    m_pBrowse = button(IDC_BROWSE, 662, 352, IDB_BROWSE_IN, IDB_BROWSE_OUT, IDB_BROWSE_DISABLED);
    m_pStart = button(IDC_START, 384, 391, IDB_START_IN, IDB_START_OUT, IDB_START_DISABLED);
    m_pInstall = button(IDC_INSTALL, 502, 391, IDB_INSTALL_IN, IDB_INSTALL_OUT, IDB_INSTALL_DISABLED);
    m_pClose = button(IDC_CLOSE, 620, 391, IDB_CLOSE_IN, IDB_CLOSE_OUT, IDB_CLOSE_DISABLED);
    m_pInstall->Hide();

    // The consent box is made, placed and skinned, and never shown: the
    // consent given at start-up stands.
    m_pConsent = new CButtonST(this, IDC_CONSENT, wxString::FromUTF8("초고속 다운로드 동의"), wxPoint(13, 293),
                               wxSize(160, 16), CButtonST::CheckBox);
    m_pConsent->SetFont(m_fontDotum);
    m_pConsent->SetBitmaps(IDB_CHECK_ON, kMagenta, IDB_CHECK_OFF, kMagenta);
    m_pConsent->DrawBorder(false, false);
    m_pConsent->DrawTransparent(false);
    m_pConsent->Hide();

    m_pToolTip = new COXToolTipCtrl;
    m_pToolTip->Create(this);
    m_pToolTip->SetMaxTipWidth(350);
}

void CZDRDownloaderDlg::OnInitDialog(wxInitDialogEvent&)
{
    if (m_bInitialized) return;
    m_bInitialized = true;
    // Tools are placed in screen terms: only a window on screen has them.
    m_pToolTip->AddTool(m_pConsent, wxString::FromUTF8(CDownloaderDlgLogic::kConsentTip));
    m_logic.OnInitDialog(m_hEventWindow);
}

void CZDRDownloaderDlg::DeliverDlEvent(void* owner, const MSG& msg)
{
    if (msg.message != WM_DL_EVENT) return;
    static_cast<CZDRDownloaderDlg*>(owner)->QueueDlEvent(static_cast<int>(msg.wParam), static_cast<int>(msg.lParam));
}

void CZDRDownloaderDlg::QueueDlEvent(int code, int param)
{
    auto* event = new wxThreadEvent(wxEVT_THREAD, kDlEventId);
    event->SetInt(code);
    event->SetExtraLong(param);
    wxQueueEvent(this, event);
}

void CZDRDownloaderDlg::OnDlEvent(wxThreadEvent& event)
{
    if (m_bFinalized) return;
    m_logic.OnDlEvent(event.GetInt(), static_cast<int>(event.GetExtraLong()));
}

void CZDRDownloaderDlg::DrawSkinBackground(wxDC& dc, const wxRect& area) const
{
    wxDCBrushChanger brush(dc, wxBrush(wxColour(0x0F, 0x1B, 0x2B)));
    wxDCPenChanger pen(dc, *wxTRANSPARENT_PEN);
    dc.DrawRectangle(0, 0, area.width, area.height);
    for (int i = 0; i < 4; ++i) {
        if (!m_frames[i].IsOk()) continue;
        const wxRect frame(m_frameOrigins[i], m_frames[i].GetSize());
        if (frame.Intersects(area)) dc.DrawBitmap(m_frames[i], frame.x - area.x, frame.y - area.y, false);
    }
}

void CZDRDownloaderDlg::OnPaint(wxPaintEvent&)
{
    wxBufferedPaintDC dc(this);
    DrawSkinBackground(dc, wxRect(GetClientSize()));
}

void CZDRDownloaderDlg::Activate()
{
    if (IsIconized()) Iconize(false);
    Raise();
    // A box or prompt of ours in front of the window comes forward with it.
    for (wxWindow* window : wxTopLevelWindows) {
        if (window != this && window->GetParent() == this && window->IsShown()) window->Raise();
    }
}

void CZDRDownloaderDlg::SetTitle(const std::string& title)
{
    wxDialog::SetTitle(Wide(title));
}

void CZDRDownloaderDlg::ShowTexts(const Texts& texts)
{
    const std::pair<CTransparentStatic2*, const std::string*> pairs[] = {
        {m_pFileLabel, &texts.fileLabel}, {m_pReceived, &texts.received}, {m_pTotal, &texts.total},
        {m_pRemaining, &texts.remaining}, {m_pElapsed, &texts.elapsed},   {m_pStatus, &texts.status},
        {m_pFolder, &texts.downloadFolder},
    };
    for (const auto& [label, text] : pairs) {
        const wxString wide = Wide(*text);
        // Only changed texts are drawn again: no flicker once a second.
        if (label->GetLabel() != wide) label->SetLabel(wide);
    }
}

void CZDRDownloaderDlg::SetButtons(const Buttons& buttons)
{
    if (buttons.startStopRunning != m_bStopPictures) {
        m_bStopPictures = buttons.startStopRunning;
        if (m_bStopPictures) m_pStart->SetBitmaps(IDB_STOP_IN, kMagenta, IDB_STOP_OUT, kMagenta, IDB_STOP_DISABLED, kMagenta);
        else m_pStart->SetBitmaps(IDB_START_IN, kMagenta, IDB_START_OUT, kMagenta, IDB_START_DISABLED, kMagenta);
    }
    m_pStart->Show(buttons.startStopShown);
    m_pBrowse->Show(buttons.browseShown);
    m_pInstall->Show(buttons.installShown);
    for (CButtonST* skinned : {m_pStart, m_pBrowse, m_pInstall, m_pClose}) skinned->Refresh();
}

void CZDRDownloaderDlg::SetProgress(int filePercent, int jobPercent)
{
    m_pFileProgress->SetPos(filePercent);
    m_pJobProgress->SetPos(jobPercent);
    m_pFileProgress->Refresh();
    m_pJobProgress->Refresh();
}

void CZDRDownloaderDlg::AddGraphSample(int value)
{
    m_pGraph->AddSample(value);
    m_pGraph->Redraw();
}

void CZDRDownloaderDlg::SetConsentChecked(bool checked)
{
    m_pConsent->SetCheck(checked ? 1 : 0);
}

void CZDRDownloaderDlg::NavigateBanner(const std::string& url)
{
    m_pBanner->Navigate(Wide(url));
}

void CZDRDownloaderDlg::HighlightStatus()
{
    m_pStatus->SetForegroundColour(kStatusYellow);
    m_pStatus->Refresh();
}

void CZDRDownloaderDlg::ShowFinalStatus()
{
    m_pStatus->SetSize(270, 42);
    m_pStatus->Refresh();
    m_pStatus->Update();
}

void CZDRDownloaderDlg::CentreOnScreen()
{
    wxDialog::CentreOnScreen();
}

void CZDRDownloaderDlg::ShowMessage(const std::string& text, const std::string& caption)
{
    wxMessageDialog box(this, Wide(text), Wide(caption), wxOK | wxCENTRE);
    DialogLabels::Apply(box);
    box.ShowModal();
}

bool CZDRDownloaderDlg::AskYesNo(const std::string& text, const std::string& caption)
{
    wxMessageDialog box(this, Wide(text), Wide(caption), wxYES_NO | wxICON_INFORMATION | wxCENTRE);
    DialogLabels::Apply(box);
    return box.ShowModal() == wxID_YES;
}

bool CZDRDownloaderDlg::ChooseFolder(const std::string& title, const std::string& initial,
                                     const std::function<std::string(const std::string&)>& statusText,
                                     std::string* chosen)
{
    std::string start = initial;
    if (start.size() > 1 && start.back() == '/') start.pop_back();
    CFolderChooserDlg chooser(this, Wide(CDownloaderDlgLogic::kCaption), Wide(title), Wide(start), statusText);
    if (chooser.ShowModal() != wxID_OK) return false;
    *chosen = std::string(chooser.GetPath().utf8_str());
    return true;
}

void CZDRDownloaderDlg::AskResume(bool* resume, bool* applyToAll)
{
    CResumeDlg prompt(this);
    prompt.ShowModal();
    *resume = prompt.Resume();
    *applyToAll = prompt.ApplyToAll();
}

void CZDRDownloaderDlg::PostRefresh()
{
    CallAfter([this] { m_logic.OnRefresh(); });
}

void CZDRDownloaderDlg::PostRunInstaller()
{
    CallAfter([this] { m_logic.OnRunInstaller(); });
}

void CZDRDownloaderDlg::PostQuit()
{
    m_bEndRequested = true;
    CallAfter([this] { End(wxID_CANCEL); });
}

void CZDRDownloaderDlg::EndDialog()
{
    End(wxID_OK);
}

void CZDRDownloaderDlg::End(int code)
{
    m_bEndRequested = true;
    if (IsModal()) EndModal(code);
}

int CZDRDownloaderDlg::FilterEvent(wxEvent& event)
{
    const wxEventType type = event.GetEventType();
    const bool relayed = type == wxEVT_MOTION || type == wxEVT_LEFT_DOWN || type == wxEVT_LEFT_DCLICK ||
                         type == wxEVT_RIGHT_DOWN || type == wxEVT_RIGHT_UP || type == wxEVT_RIGHT_DCLICK ||
                         type == wxEVT_MIDDLE_DOWN || type == wxEVT_MIDDLE_UP || type == wxEVT_MIDDLE_DCLICK ||
                         type == wxEVT_KEY_DOWN || type == wxEVT_KEY_UP || type == wxEVT_CHAR;
    if (!relayed || !m_pToolTip) return Event_Skip;
    auto* window = wxDynamicCast(event.GetEventObject(), wxWindow);
    if (window && wxGetTopLevelParent(window) == this) m_pToolTip->RelayEvent(event);
    return Event_Skip;
}

void CZDRDownloaderDlg::OnCharHook(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_ESCAPE) {
        m_logic.OnCloseClicked();
        return;
    }
    event.Skip();
}

void CZDRDownloaderDlg::OnClose(wxCloseEvent& event)
{
    if (!event.CanVeto()) {
        End(wxID_CANCEL);
        return;
    }
    m_logic.OnCloseWindow();
    if (!m_bEndRequested) event.Veto();
}

void CZDRDownloaderDlg::OnLeftDown(wxMouseEvent& event)
{
    event.Skip();
    if (event.GetY() >= kDragBand) return;
    m_bDragging = true;
    m_ptDragOffset = ClientToScreen(event.GetPosition()) - GetPosition();
    if (!HasCapture()) CaptureMouse();
}

void CZDRDownloaderDlg::OnMotion(wxMouseEvent& event)
{
    event.Skip();
    if (m_bDragging && event.LeftIsDown()) Move(ClientToScreen(event.GetPosition()) - m_ptDragOffset);
}

void CZDRDownloaderDlg::OnLeftUp(wxMouseEvent& event)
{
    event.Skip();
    m_bDragging = false;
    if (HasCapture()) ReleaseMouse();
}

void CZDRDownloaderDlg::OnCaptureLost(wxMouseCaptureLostEvent&)
{
    m_bDragging = false;
}
