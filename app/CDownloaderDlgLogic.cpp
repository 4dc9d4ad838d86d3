#include "app/CDownloaderDlgLogic.h"
#include "service/DlDefaults.h"

#include "service/DlFormat.h"
#include "service/PortalFileList.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

constexpr const char* kInitFailed = "初始化失敗。";
constexpr const char* kListRequestFailed = "下載檔案目錄失敗。";
constexpr const char* kListFailed = "下載檔案目錄失敗";
constexpr const char* kSizeCheckFailed = "檔案大小確認失敗";
constexpr const char* kNoListUrl = "不存在下載所用的協定";
constexpr const char* kEngineFolderRefused = "選擇的路徑無法使用";
constexpr const char* kConsentQuestion = "不同意超高速下載時，以一般下載方式進行。\n要使用一般下載方式進行嗎？";
constexpr const char* kDiskFull = "硬碟(%s)的空間不足(%s)。";
constexpr const char* kNetworkLost = "您的網路狀態不佳";
constexpr const char* kNetworkRestored = "您的網路回復正常";
constexpr const char* kDownloadFailed = "下載%s失敗\n請稍候再試";
constexpr const char* kNotFinished = "尚未結束下載。";
constexpr const char* kInstalling = "檢查下載的文件後執行安裝。";
constexpr const char* kNoInstallerPath = "該路徑(NULL)檔案不存在。";
constexpr const char* kInstallerMissing = "該路徑(%s)檔案不存在。";
constexpr const char* kCloseQuestion = "關閉視窗時，即會中止下載 %s\n確定要關閉視窗嗎？";
constexpr const char* kCloseWindowQuestion = "關閉視窗時，將立即終止下載 %s\n確定要關閉視窗嗎？";
constexpr const char* kRequiredTitle = "至少需要 %s 容量。\n";
constexpr const char* kRequiredAndFree = "至少需要 %s 容量。\n剩餘容量：%s";
constexpr const char* kZeroTime = "00:00:00";

// The format with each "%s" replaced by the next argument in turn.
std::string Fill(const char* format, std::initializer_list<std::string> args)
{
    std::string text = format;
    size_t from = 0;
    for (const std::string& arg : args) {
        size_t at = text.find("%s", from);
        if (at == std::string::npos) break;
        text.replace(at, 2, arg);
        from = at + arg.size();
    }
    return text;
}

std::string Size(long long bytes)
{
    return FormatSize(static_cast<double>(bytes));
}

// True for a path below folder that cannot climb out of it.
bool IsInside(const std::string& path, const std::string& folder)
{
    if (folder.empty() || path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    const std::string rest = "/" + path.substr(folder.size()) + "/";
    return rest.find("/../") == std::string::npos && rest.find("/./") == std::string::npos;
}

} // namespace

CDownloaderDlgLogic::CDownloaderDlgLogic(const Settings& settings, IDlService& service, IDesktopShell& shell,
                                         IDownloaderView& view)
    : m_settings(settings), m_service(service), m_shell(shell), m_view(view)
{
    std::string programFiles = settings.programFilesFolder;
    if (!programFiles.empty() && programFiles.back() != '/') programFiles += '/';
    m_strEngineExePath = programFiles + "Ostrel/ZDRDownloader/ZDRDownloaderEngine.exe";
    m_texts.downloadFolder = InitialFolder();
}

bool CDownloaderDlgLogic::OnInitDialog(HWND window)
{
    m_view.ShowTexts(m_texts);
    m_strServiceId = kDlServiceId;
    m_strPortalId = kPortalId;
    m_strConsent = "2";
    m_strBannerUrl = m_settings.bannerUrl;
    m_strFileListUrl = m_settings.fileListUrl.empty() ? m_settings.defaultFileListUrl : m_settings.fileListUrl;

    if (m_service.Initialize(window) != DL_OK) {
        Message(kInitFailed, m_settings.appCaption);
        Quit();
    }
    if (m_service.FetchData(m_strFileListUrl) != DL_OK) {
        Message(kListRequestFailed, m_settings.appCaption);
        Quit();
        return false;
    }
    m_view.SetTitle(kWindowTitle);
    UpdateButtons();
    m_view.NavigateBanner(m_strBannerUrl);
    m_view.SetConsentChecked(m_strConsent != "1");
    return true;
}

void CDownloaderDlgLogic::OnDlEvent(int code, int param)
{
    switch (code) {
    case DL_EVENT_FETCH_DONE:
        OnListFetched();
        return;
    case DL_EVENT_FETCH_FAILED:
        Message(kListFailed, kCaption);
        StopDownload();
        Quit();
        return;
    case DL_EVENT_SIZE_CHECK_DONE:
        ShowTotals();
        return;
    case DL_EVENT_SIZE_CHECK_FAILED:
        Message(kSizeCheckFailed, m_settings.appCaption);
        Quit();
        return;
    default:
        break;
    }
    // Job events: an event of a job that has since been stopped would
    // otherwise count files and show records of a job that is gone.
    if (param == 0 || param != m_hJob) return;
    switch (code) {
    case DL_EVENT_JOB_SIZE:
        m_texts.remaining = kZeroTime;
        m_view.ShowTexts(m_texts);
        break;
    case DL_EVENT_JOB_PROGRESS:
        ShowProgress(param);
        break;
    case DL_EVENT_FILE_DONE:
        OnFileDone(param);
        break;
    case DL_EVENT_JOB_COMPLETE:
        OnJobComplete();
        break;
    case DL_EVENT_NOTICE:
        OnNotice(param);
        break;
    case DL_EVENT_ASK_RESUME:
        OnResumeQuestion();
        break;
    default:
        break;
    }
}

void CDownloaderDlgLogic::OnListFetched()
{
    long long size = 0;
    std::unique_ptr<char[]> body;
    if (m_service.GetFetchedSize(&size) == DL_OK && size > 0 && size <= kMaxListBytes) {
        body.reset(new char[static_cast<size_t>(size)]);
        DlDataBuffer buffer{body.get(), size};
        // A body that cannot be copied is no list at all.
        if (m_service.GetFetchedData(&buffer) != DL_OK) size = 0;
    } else {
        size = 0;
    }
    if (!ParseFileList(body.get(), size)) return;
    m_eListStage = Stage::CheckingSizes;
    StartSizeCheck();
}

bool CDownloaderDlgLogic::ParseFileList(const char* body, long long length)
{
    std::vector<std::string> entries;
    const PortalListResult result = ParsePortalFileList(body ? body : "", length, &entries);
    // A NUL would have cut its line short: the list is as wrong as one with an
    // over-long line, and its first lines alone are not the download.
    if (result == PortalListResult::LineTooLong || result == PortalListResult::NulByte) {
        Message(PortalListErrorText(result), kCaption);
        StopDownload();
        Quit();
        return false;
    }
    // Two entries for one file, or one named like another's temporary file,
    // would write into the same place: no list of the portal does that.
    FileNameClash clash;
    if (PortalEntriesClash(entries, &clash)) {
        Message(PortalListErrorText(PortalListResult::NameClash), kCaption);
        StopDownload();
        Quit();
        return false;
    }
    m_arrFileUrls = std::move(entries);
    if (m_arrFileUrls.empty()) {
        Message(PortalListErrorText(PortalListResult::Empty), kCaption);
        Quit();
        return false;
    }
    return true;
}

void CDownloaderDlgLogic::StartSizeCheck()
{
    for (const std::string& url : m_arrFileUrls) {
        if (m_service.AddSizeCheckUrl(url) != DL_OK) {
            Message(kSizeCheckFailed, m_settings.appCaption);
            Quit();
        }
    }
    if (m_service.StartSizeCheck() != DL_OK) {
        Message(kSizeCheckFailed, m_settings.appCaption);
        Quit();
    }
}

std::string CDownloaderDlgLogic::InitialFolder() const
{
    // A saved folder passes the check a chosen one passes: the note may have
    // been written by zdrdl or by hand.
    const std::string& saved = m_settings.savedFolder;
    return saved.empty() || IsEngineFolder(saved) ? DefaultDownloadFolder(m_settings.homeFolder) : saved;
}

void CDownloaderDlgLogic::ShowTotals()
{
    long long total = 0;
    m_nTotalDownloadSize = m_service.GetSizeCheckTotal(&total) == DL_OK ? total : 0;
    m_eListStage = Stage::Ready;
    m_texts.total = Size(m_nTotalDownloadSize);
    ShowFileLabel();
    m_texts.remaining = kZeroTime;
    m_texts.elapsed = kZeroTime;
    m_texts.received = Size(0);
    m_texts.status = FormatSpeed(0);
    m_texts.downloadFolder = InitialFolder();
    m_view.CentreOnScreen();
    m_view.PostRefresh();
}

void CDownloaderDlgLogic::OnRefresh()
{
    m_view.ShowTexts(m_texts);
}

void CDownloaderDlgLogic::ShowProgress(int job)
{
    DlProgress progress{};
    if (m_service.GetJobProgress(job, &progress) != DL_OK) return;
    m_texts.total = Size(progress.totalBytes);
    m_texts.received = Size(progress.bytesPresent);
    m_texts.status = FormatSpeed(progress.speed);
    m_texts.elapsed = FormatDuration(progress.elapsedSeconds);
    m_texts.remaining = FormatDuration(progress.remainingSeconds);
    m_view.SetProgress(progress.filePercent, progress.percent);
    // Megabits per second, with a binary mega.
    m_view.AddGraphSample(static_cast<int>(static_cast<long long>(progress.speed) * 8 / 1048576));
    m_view.ShowTexts(m_texts);
}

void CDownloaderDlgLogic::OnFileDone(int job)
{
    int sequence = 0;
    std::string text;
    // An empty queue leaves nothing to count.
    if (m_service.PopJobFileDone(job, &sequence, &text) != DL_OK || text.empty()) return;
    const std::string path = LocalPathOf(text, m_strJobFolder);
    ++m_nDoneFiles;
    ++m_nCurrentFile;
    ShowFileLabel();
    if (IsInstallerPath(path)) m_strInstallerPath = path;
    m_view.ShowTexts(m_texts);
}

void CDownloaderDlgLogic::OnNotice(int job)
{
    int code = DL_NOTICE_NONE;
    if (m_service.PopJobNotice(job, &code) != DL_OK) return;
    switch (code) {
    case DL_NOTICE_DISK_FULL: {
        long long needed = 0;
        m_service.GetJobRemaining(job, &needed);
        const std::string folder = m_texts.downloadFolder;
        StopDownload();
        Message(Fill(kDiskFull, {folder, Size(needed)}), kCaption);
        break;
    }
    case DL_NOTICE_NETWORK_LOST:
        Message(kNetworkLost, kCaption);
        break;
    case DL_NOTICE_NETWORK_RESTORED:
        Message(kNetworkRestored, kCaption);
        break;
    case DL_NOTICE_DOWNLOAD_FAILED:
        Message(Fill(kDownloadFailed, {kDlGameName}), kCaption);
        break;
    default:
        break;
    }
}

void CDownloaderDlgLogic::OnResumeQuestion()
{
    bool resume = true;
    bool applyToAll = true;
    m_view.AskResume(&resume, &applyToAll);
    m_service.AnswerResume(m_hJob, resume, applyToAll);
}

void CDownloaderDlgLogic::OnJobComplete()
{
    StopDownload();
    m_bFinished = true;
    m_texts.remaining = kZeroTime;
    IDownloaderView::Buttons buttons;
    buttons.installShown = true;
    buttons.startStopShown = false;
    buttons.browseShown = false;
    m_view.SetButtons(buttons);
    m_view.HighlightStatus();
    m_view.ShowTexts(m_texts);
}

void CDownloaderDlgLogic::ShowFileLabel()
{
    if (m_nDoneFiles >= static_cast<int>(m_arrFileUrls.size())) return;
    m_texts.fileLabel =
        FileLabel(m_arrFileUrls[m_nDoneFiles], m_nCurrentFile, static_cast<int>(m_arrFileUrls.size()));
}

std::string CDownloaderDlgLogic::FileLabel(const std::string& url, int current, int count)
{
    const size_t slash = url.rfind('/');
    const std::string name = slash == std::string::npos ? std::string() : url.substr(slash + 1);
    return name + " [" + std::to_string(current) + "/" + std::to_string(count) + "]";
}

void CDownloaderDlgLogic::OnStartClicked()
{
    if (m_hJob != 0) StopDownload();
    else StartDownload();
}

void CDownloaderDlgLogic::StartDownload()
{
    if (m_bFinished) return;
    if (m_strFileListUrl.empty()) {
        Message(kNoListUrl, kCaption);
        return;
    }
    // Before the list is in there is nothing to download: a job without
    // files would never start while the window showed it running.
    if (m_hJob == 0 && !m_arrFileUrls.empty()) {
        m_service.SetServiceId(m_strServiceId);
        int job = 0;
        if (m_service.CreateJob(&job, m_strServiceId) != DL_OK || job == 0) {
            StartFailed();
            return;
        }
        m_hJob = job;
        m_service.SetJobEngineFlag(m_hJob);
        const std::string folder = m_texts.downloadFolder;
        for (const std::string& url : m_arrFileUrls) m_service.AddJobFile(m_hJob, url, folder, -1, 1);
        if (m_service.StartJob(m_hJob, m_strConsent == "1" ? 0 : 1) != DL_OK) {
            StartFailed();
            return;
        }
        m_strJobFolder = folder;
        m_shell.SaveDownloadFolder(folder);
    }
    UpdateButtons();
}

// A job the service would not start is taken back at once: the window
// must not show a download that is not happening.
void CDownloaderDlgLogic::StartFailed()
{
    StopDownload();
    Message(Fill(kDownloadFailed, {kDlGameName}), kCaption);
}

void CDownloaderDlgLogic::StopDownload()
{
    if (m_bFinished) return;
    if (m_hJob != 0) {
        m_service.StopJob(m_hJob);
        m_service.RemoveJob(m_hJob);
        m_hJob = 0;
        m_nDoneFiles = 0;
        m_nCurrentFile = 1;
        m_strJobFolder.clear();
    }
    UpdateButtons();
}

void CDownloaderDlgLogic::UpdateButtons()
{
    IDownloaderView::Buttons buttons;
    buttons.installShown = false;
    buttons.startStopShown = true;
    buttons.startStopRunning = m_hJob != 0;
    buttons.browseShown = m_hJob == 0;
    m_view.SetButtons(buttons);
}

void CDownloaderDlgLogic::OnBrowseClicked()
{
    if (m_hJob != 0 || m_bFinished) return;
    const std::string current = m_texts.downloadFolder;
    if (!m_shell.DirectoryExists(current)) m_shell.CreateOneDirectory(current);
    std::string chosen;
    const auto status = [this](const std::string& folder) { return FolderStatusText(folder); };
    if (!m_view.ChooseFolder(Fill(kRequiredTitle, {Size(m_nTotalDownloadSize)}), current, status, &chosen)) return;
    if (chosen.empty() || chosen.back() != '/') chosen += '/';
    if (IsEngineFolder(chosen)) {
        Message(kEngineFolderRefused, m_settings.appCaption);
        return;
    }
    m_texts.downloadFolder = chosen;
    m_view.ShowTexts(m_texts);
}

std::string CDownloaderDlgLogic::FolderStatusText(const std::string& folder) const
{
    const long long freeBytes = std::max(m_shell.FreeBytes(folder), 0LL);
    return Fill(kRequiredAndFree, {Size(m_nTotalDownloadSize), Size(freeBytes)});
}

bool CDownloaderDlgLogic::IsEngineFolder(const std::string& path) const
{
    const size_t slash = m_strEngineExePath.rfind('/');
    return path == m_strEngineExePath.substr(0, slash + 1);
}

void CDownloaderDlgLogic::OnConsentClicked(bool checked)
{
    if (checked) {
        m_strConsent = "2";
        return;
    }
    if (m_view.AskYesNo(kConsentQuestion, m_settings.appCaption)) {
        m_strConsent = "1";
    } else {
        m_strConsent = "2";
        m_view.SetConsentChecked(true);
    }
}

void CDownloaderDlgLogic::OnInstallClicked()
{
    if (!m_bFinished) {
        Message(kNotFinished, m_settings.appCaption);
        return;
    }
    if (m_bInstalling) return;
    m_bInstalling = true;
    IDownloaderView::Buttons buttons;
    buttons.startStopShown = false;
    buttons.browseShown = false;
    buttons.installShown = false;
    m_view.SetButtons(buttons);
    m_view.ShowFinalStatus();
    m_texts.status = kInstalling;
    m_view.ShowTexts(m_texts);
    m_view.PostRunInstaller();
}

void CDownloaderDlgLogic::OnRunInstaller()
{
    RunInstaller(m_strInstallerPath);
    Quit();
}

bool CDownloaderDlgLogic::RunInstaller(const std::string& path)
{
    if (path.empty()) {
        Message(kNoInstallerPath, m_settings.appCaption);
        return false;
    }
    if (!m_shell.FileExists(path)) {
        Message(Fill(kInstallerMissing, {path}), m_settings.appCaption);
        return false;
    }
    return m_shell.RunInstaller(path);
}

void CDownloaderDlgLogic::OnCloseClicked()
{
    if (m_hJob != 0) {
        if (!m_view.AskYesNo(Fill(kCloseQuestion, {kDlGameName}), kCaption)) return;
        StopDownload();
    }
    m_view.EndDialog();
}

void CDownloaderDlgLogic::OnCloseWindow()
{
    if (m_hJob != 0) {
        if (!m_view.AskYesNo(Fill(kCloseWindowQuestion, {kDlGameName}), kCaption)) return;
        StopDownload();
    }
    m_view.EndDialog();
}

void CDownloaderDlgLogic::OnDestroy()
{
    if (m_hJob != 0) StopDownload();
    m_service.Finalize();
    m_arrFileUrls.clear();
}

std::string CDownloaderDlgLogic::LocalPathOf(const std::string& text, const std::string& folder)
{
    if (!folder.empty()) {
        const size_t at = text.find("," + folder);
        if (at != std::string::npos) return text.substr(at + 1);
    }
    const size_t comma = text.find(',');
    return comma == std::string::npos ? text : text.substr(comma + 1);
}

bool CDownloaderDlgLogic::IsInstallerPath(const std::string& path) const
{
    // Whatever the list says, only a file the job wrote into its own folder
    // is ever started.
    if (!IsInside(path, m_strJobFolder)) return false;
    if (m_arrFileUrls.size() == 1) return true;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".exe";
}

CDownloaderDlgLogic::Stage CDownloaderDlgLogic::GetStage() const
{
    if (m_bInstalling) return Stage::Installing;
    if (m_bFinished) return Stage::Completed;
    if (m_hJob != 0) return Stage::Downloading;
    return m_eListStage;
}

void CDownloaderDlgLogic::Message(const std::string& text, const std::string& caption)
{
    // Once the program is quitting, further boxes would only hold it up:
    // a box shown with the quit already queued ends at once.
    if (m_bQuitPosted) return;
    m_view.ShowMessage(text, caption);
}

void CDownloaderDlgLogic::Quit()
{
    if (m_bQuitPosted) return;
    m_bQuitPosted = true;
    m_view.PostQuit();
}
