#include "cli/CDownloadRun.h"

#include "cli/PartialDownloads.h"
#include "cli/ProgressLine.h"
#include "cli/TerminalText.h"
#include "engine/ActivityLog.h"
#include "netlib/http/UrlCredentials.h"
#include "platform/COutputFile.h"
#include "platform/FileSystem.h"
#include "service/DlApi.h"
#include "service/DlDefaults.h"
#include "service/CPartFileRecord.h"
#include "service/DlFormat.h"
#include "service/HttpTransferRules.h"
#include "service/PortalFileList.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <strings.h>

#include <csignal>
#include <filesystem>
#include <memory>

namespace {
constexpr int kWaitSliceMs = 1000;
// The update reports each piece it receives; the line follows at this pace.
constexpr auto kUpdateLinePeriod = std::chrono::milliseconds(1000);
// The engine waits for the answer; a terminal left alone gets the default.
constexpr int kQuestionTimeoutMs = 10 * 60 * 1000;
} // namespace

CDownloadRun::CDownloadRun(const CliOptions& options, FILE* out, FILE* progressOut, ProgressMode progress,
                           int questionFd)
    : m_options(options), m_out(out),
      m_progress(progressOut, progress, [progressOut] { return CProgressDisplay::ColumnsOf(fileno(progressOut)); },
                 [] { return std::chrono::steady_clock::now(); })
{
    if (questionFd >= 0 && m_options.resume == ResumeChoice::kUnset)
        m_question = std::make_unique<CTerminalQuestion>(questionFd, out, &CEventInbox::Interrupted);
}

CDownloadRun::~CDownloadRun() = default;

int CDownloadRun::Execute()
{
    // The service reads this when it starts: no engine downloader at all.
    if (m_options.plain) setenv("ZDR_NO_ENGINE", "1", 1);
    if (m_options.noReport) setenv("ZDR_NO_REPORT", "1", 1);
    if (DlInitialize(m_inbox.Window(), nullptr, nullptr) != DL_OK) {
        DlFinalize();
        return Fail(CLI_SERVICE_FAILED, "初始化失敗。 (the download service did not start)");
    }
    int status = Download();
    if (m_job != 0) {
        DlStopJob(m_job);
        DlRemoveJob(m_job);
        m_job = 0;
    }
    DlFinalize();
    return status;
}

int CDownloadRun::Download()
{
    std::vector<std::string> entries;
    if (int status = FetchList(&entries)) return status;
    long long total = 0;
    if (int status = CheckSizes(entries, &total)) return status;
    if (int status = CheckFolder(total)) return status;
    if (int status = StartJob(entries)) return status;
    return FollowJob();
}

int CDownloadRun::FetchList(std::vector<std::string>* entries)
{
    const std::string url = m_options.fileListUrl.empty() ? DefaultFileListUrl() : m_options.fileListUrl;
    Say("File list: " + TerminalSafe(url));
    const std::string failed = "下載檔案目錄失敗 (the file list could not be fetched: " + TerminalSafe(url) + ")";
    if (DlFetchData(url.c_str()) != DL_OK) return Fail(CLI_LIST_FAILED, failed);
    DlEvent event;
    if (!WaitFor(DL_EVENT_FETCH_DONE, DL_EVENT_FETCH_FAILED, &event)) return Fail(InterruptedStatus(), "interrupted");
    if (event.code == DL_EVENT_FETCH_FAILED) {
        char cause[2048];
        if (DlGetFetchFailure(cause, sizeof cause) != DL_OK) return Fail(CLI_LIST_FAILED, failed);
        return Fail(CLI_LIST_FAILED, "下載檔案目錄失敗 (the file list could not be fetched: " + TerminalSafe(cause) + ")");
    }
    long long size = 0;
    if (DlGetFetchedSize(&size) != DL_OK || size <= 0) return Fail(CLI_LIST_FAILED, failed);
    std::unique_ptr<char[]> body(new char[static_cast<size_t>(size)]);
    DlDataBuffer buffer{body.get(), size};
    if (DlGetFetchedData(&buffer) != DL_OK) return Fail(CLI_LIST_FAILED, failed);
    long long line = 0;
    std::vector<long long> lines;
    PortalListResult parsed = ParsePortalFileList(body.get(), size, entries, &line, &lines);
    if (parsed == PortalListResult::LineTooLong)
        return Fail(CLI_LIST_FAILED, std::string(PortalListErrorText(parsed)) + " (line " + std::to_string(line) +
                                         " of the file list is 1024 bytes or more)");
    if (parsed == PortalListResult::NulByte)
        return Fail(CLI_LIST_FAILED, std::string(PortalListErrorText(parsed)) + " (line " + std::to_string(line) +
                                         " of the file list holds a NUL byte)");
    if (parsed == PortalListResult::Empty)
        return Fail(CLI_LIST_FAILED, std::string(PortalListErrorText(parsed)) + " (the file list names no file)");
    // Two entries for one file, or one named like another's temporary file,
    // would write into the same place.
    FileNameClash clash;
    const std::string wrong = PortalListErrorText(PortalListResult::NameClash);
    if (!PortalEntriesClash(*entries, &clash)) {
        // A URL that ends without a name (a host alone, a folder) gives no file to write.
        for (size_t i = 0; i < entries->size(); ++i)
            if (!IsSafeFileName(EntryFileName((*entries)[i])))
                return Fail(CLI_LIST_FAILED, wrong + " (line " + std::to_string(lines[i]) +
                                                 " of the file list names no file it may write: " +
                                                 TerminalSafe((*entries)[i]) + ")");
        return CLI_OK;
    }
    const std::string named = EntryFileName((*entries)[clash.named]);
    const std::string other = EntryFileName((*entries)[clash.other]);
    if (!clash.temporary && named != other)
        return Fail(CLI_LIST_FAILED, wrong + " (lines " + std::to_string(lines[clash.named]) + " and " +
                                         std::to_string(lines[clash.other]) + " of the file list name " +
                                         TerminalSafe(named) + " and " + TerminalSafe(other) +
                                         ", one file here: letter case is not told apart)");
    if (!clash.temporary)
        return Fail(CLI_LIST_FAILED, wrong + " (lines " + std::to_string(lines[clash.named]) + " and " +
                                         std::to_string(lines[clash.other]) + " of the file list both name " +
                                         TerminalSafe(clash.name) + ")");
    return Fail(CLI_LIST_FAILED, wrong + " (line " + std::to_string(lines[clash.named]) + " of the file list names " +
                                     TerminalSafe(clash.name) + ", a temporary file of line " +
                                     std::to_string(lines[clash.other]) + ")");
}

int CDownloadRun::CheckSizes(const std::vector<std::string>& entries, long long* total)
{
    const std::string failed = "檔案大小確認失敗 (the size check failed)";
    for (const std::string& entry : entries)
        if (DlAddSizeCheckUrl(entry.c_str()) != DL_OK) return Fail(CLI_SIZE_CHECK_FAILED, failed);
    if (DlStartSizeCheck() != DL_OK) return Fail(CLI_SIZE_CHECK_FAILED, failed);
    DlEvent event;
    if (!WaitFor(DL_EVENT_SIZE_CHECK_DONE, DL_EVENT_SIZE_CHECK_FAILED, &event))
        return Fail(InterruptedStatus(), "interrupted");
    if (event.code == DL_EVENT_SIZE_CHECK_FAILED || DlGetSizeCheckTotal(total) != DL_OK) {
        // The file that failed and why; the activity log keeps every probe's answer.
        char cause[2048];
        char log[4096];
        LogPath(log, sizeof log);
        const std::string more = "; each file's answer is in the activity log " + TerminalSafe(log);
        if (DlGetSizeCheckFailure(cause, sizeof cause) != DL_OK)
            return Fail(CLI_SIZE_CHECK_FAILED, failed + ": each file's answer is in the activity log " + TerminalSafe(log));
        return Fail(CLI_SIZE_CHECK_FAILED, failed + ": " + TerminalSafe(cause) + more);
    }
    if (*total < 0 || *total >= (1LL << 53))
        return Fail(CLI_SIZE_CHECK_FAILED, failed + ": the server gave an unusable length (" + std::to_string(*total) + ")");
    Say(std::to_string(entries.size()) + " files, " + FormatSize(static_cast<double>(*total)) + " in all");
    return CLI_OK;
}

int CDownloadRun::CheckFolder(long long total)
{
    m_folder = m_options.folder.empty() ? ChosenDownloadFolder() : m_options.folder;
    // The service keeps full local paths: a relative folder is read from here.
    std::error_code ignored;
    m_folder = std::filesystem::absolute(m_folder, ignored).lexically_normal().string();
    if (m_folder.empty() || m_folder.back() != '/') m_folder += '/';
    const std::string bare = m_folder.size() > 1 ? m_folder.substr(0, m_folder.size() - 1) : m_folder;
    if (!DirectoryExists(m_folder) && std::filesystem::exists(bare, ignored))
        return Fail(CLI_DOWNLOAD_FAILED, "the download folder cannot be created: " + TerminalSafe(bare) +
                                             " is a file, not a folder");
    if (!DirectoryExists(m_folder) && !CreateDirectoryChain(m_folder))
        return Fail(CLI_DOWNLOAD_FAILED,
                    "the download folder cannot be created: " + TerminalSafe(m_folder) + ": " + strerror(errno));
    // Found now, the reason is the system's; found by the download, it would
    // read as a failure to try again later.
    if (access(m_folder.c_str(), W_OK | X_OK) != 0)
        return Fail(CLI_DOWNLOAD_FAILED,
                    "the download folder cannot be written: " + TerminalSafe(m_folder) + ": " + strerror(errno));
    const long long freeBytes = FreeDiskSpace(m_folder);
    if (freeBytes >= 0 && freeBytes < total) {
        return Fail(CLI_NO_SPACE, "硬碟(" + m_folder + ")的空間不足(" + FormatSize(static_cast<double>(total)) +
                                      ")。 (not enough free space: " + FormatSize(static_cast<double>(total)) +
                                      " needed, " + FormatSize(static_cast<double>(freeBytes)) + " free)");
    }
    Say("Folder: " + m_folder + " (" + FormatSize(static_cast<double>(freeBytes)) + " free)");
    return CLI_OK;
}

int CDownloadRun::StartJob(const std::vector<std::string>& entries)
{
    DlSetServiceId(kDlServiceId);
    if (DlCreateJob(&m_job, nullptr, kDlServiceId) != DL_OK) {
        m_job = 0;
        return Fail(CLI_DOWNLOAD_FAILED, "the download could not be created");
    }
    DlSetJobEngineFlag(m_job);
    m_entries = entries;
    if (m_options.resume == ResumeChoice::kAfresh) ForgetPartialDownloads(entries);
    for (const std::string& entry : entries) {
        // Unknown size (-1): the downloader learns it itself.
        int result = DlAddJobFile(m_job, entry.c_str(), m_folder.c_str(), nullptr, 0xFFFFFFFFu, -1, 1);
        if (result != DL_OK)
            return Fail(CLI_DOWNLOAD_FAILED, "the file cannot be added (" + std::to_string(result) + "): " + TerminalSafe(entry) +
                                             (result == DL_ERR_GENERAL ? ": another file of the download takes its name" : ""));
    }
    int result = DlStartJob(m_job, m_options.engineConsent ? 1 : 0);
    if (result != DL_OK) return Fail(CLI_DOWNLOAD_FAILED, "the download did not start (" + std::to_string(result) + ")");
    SaveDownloadFolder(m_folder);
    return CLI_OK;
}

void CDownloadRun::ForgetPartialDownloads(const std::vector<std::string>& entries)
{
    for (const std::string& entry : entries) {
        const std::string url = JoinAlternatives(SplitAlternatives(entry));
        const size_t slash = url.find_last_of('/');
        if (slash == std::string::npos || slash + 1 == url.size()) continue;
        const std::string part = m_folder + url.substr(slash + 1) + CPartFileRecord::kPartSuffix;
        if (!std::filesystem::is_regular_file(part)) continue;
        COutputFile file;
        if (file.OpenLocked(part) != COutputFile::LockResult::kOpened) continue;
        std::error_code ignored;
        std::filesystem::remove(part, ignored);
        CPartFileRecord::Remove(part);
        file.Discard();
        Say("Partial download discarded (--no-resume): " + TerminalSafe(part));
    }
}

int CDownloadRun::FollowJob()
{
    for (;;) {
        DlEvent event;
        if (!m_inbox.Wait(&event, kWaitSliceMs)) {
            if (CEventInbox::Interrupted()) return Fail(InterruptedStatus(), "interrupted: the download was stopped");
            continue;
        }
        // The engine update's events belong to no job.
        if (event.code >= DL_EVENT_UPDATE_BEGIN && event.code <= DL_EVENT_UPDATE_FAILED) {
            ShowEngineUpdate(event.code);
            continue;
        }
        if (event.param != m_job && event.code != DL_EVENT_DOWNLOAD_PATH_FAILED) continue;
        switch (event.code) {
        case DL_EVENT_JOB_PROGRESS:
            ShowProgress(false);
            break;
        case DL_EVENT_FILE_DONE: {
            DlFileDone done{};
            DlPopJobFileDone(m_job, &done);
            const std::string text = done.text;
            const size_t comma = text.find(',');
            Say("done: " + TerminalSafe(comma == std::string::npos ? text : text.substr(comma + 1)));
            break;
        }
        case DL_EVENT_JOB_COMPLETE: {
            ShowProgress(true);
            m_progress.Keep();
            DlJobResult result{};
            DlGetJobResult(m_job, &result);
            Say("Download complete: " + std::to_string(result.fileCount) + " files in " + m_folder +
                (m_path == DL_PATH_ENGINE ? " (via engine)" : m_path == DL_PATH_PLAIN ? " (via plain)" : ""));
            return CLI_OK;
        }
        case DL_EVENT_NOTICE:
            if (int status = HandleNotices()) return status;
            break;
        case DL_EVENT_ASK_RESUME:
            if (int status = AnswerResumeQuestion()) return status;
            break;
        case DL_EVENT_DOWNLOAD_PATH_FAILED:
            return Fail(CLI_DOWNLOAD_FAILED, "the download folder cannot be accessed: " + m_folder);
        default:
            break;
        }
    }
}

void CDownloadRun::ShowEngineUpdate(int code)
{
    switch (code) {
    case DL_EVENT_UPDATE_BEGIN:
        if (!m_updateAnnounced) Say("Download engine: updating from the update site");
        m_updateAnnounced = true;
        m_updateDrawn = {};
        [[fallthrough]];
    case DL_EVENT_UPDATE_PROGRESS: {
        const auto now = std::chrono::steady_clock::now();
        DlEngineUpdate update{};
        if (DlGetEngineUpdate(&update) != DL_OK || update.fileNumber == 0) break;
        // The last piece of a file is always shown.
        if (now - m_updateDrawn < kUpdateLinePeriod && update.fileBytes < update.fileSize) break;
        m_updateDrawn = now;
        const bool last = update.fileBytes >= update.fileSize;
        m_progress.Show([&update](int columns) { return FormatEngineUpdateLine(update, columns); },
                        update.fileBytes + update.fileNumber, last);
        break;
    }
    case DL_EVENT_UPDATE_SUCCEEDED:
        m_updateAnnounced = false;
        Say("Download engine: up to date and started; the download runs on the engine");
        break;
    case DL_EVENT_UPDATE_FAILED:
        m_updateAnnounced = false;
        Say("Download engine: update failed; the download runs on the plain downloader (see the activity log)");
        break;
    default:
        break;
    }
}

int CDownloadRun::AnswerResumeQuestion()
{
    bool resume = m_options.resume != ResumeChoice::kAfresh;
    bool forAll = true;
    if (m_question) {
        // The engine asks for the whole job; the folder shows which parts it found.
        // Asked under --quiet too: the question needs it.
        const std::string parts = DescribePartialDownloads(FindPartialDownloads(m_folder, m_entries));
        const std::string which = parts.empty() ? "." : ": " + parts + ".";
        m_progress.Clear();
        fprintf(m_out, "A partial download of this download's files exists%s\n", which.c_str());
        fflush(m_out);
        m_question->DiscardTypedAhead();
        const CTerminalQuestion::Result first = m_question->Ask("Resume it? [y/n] ", kQuestionTimeoutMs);
        if (first == CTerminalQuestion::Result::kInterrupted)
            return Fail(InterruptedStatus(), "interrupted: the download was stopped");
        if (first == CTerminalQuestion::Result::kYes || first == CTerminalQuestion::Result::kNo) {
            resume = first == CTerminalQuestion::Result::kYes;
            const CTerminalQuestion::Result second =
                m_question->Ask("Apply this answer to every file of the download? [y/n] ", kQuestionTimeoutMs);
            if (second == CTerminalQuestion::Result::kInterrupted)
                return Fail(InterruptedStatus(), "interrupted: the download was stopped");
            forAll = second != CTerminalQuestion::Result::kNo;
        } else {
            Say(first == CTerminalQuestion::Result::kTimedOut ? "No answer within 10 minutes: resuming, for every file"
                                                                : "No more input: resuming, for every file");
        }
    }
    Say(std::string(resume ? "A partial download exists: resuming it" : "A partial download exists: starting afresh") +
        (forAll ? "" : " (this file only)"));
    const int result = DlAnswerResume(m_job, resume ? 1 : 0, forAll ? 1 : 0);
    // The job left the engine while the question waited: nothing to answer.
    if (result != DL_OK && result != DL_ERR_NOT_HELD)
        return Fail(CLI_DOWNLOAD_FAILED, "the answer did not reach the download (" + std::to_string(result) + ")");
    return CLI_OK;
}

int CDownloadRun::HandleNotices()
{
    for (;;) {
        int size = 0;
        DlGetJobNoticeSize(m_job, &size);
        std::string text(static_cast<size_t>(size > 0 ? size : 1), '\0');
        DlNotice notice{0, size > 0 ? text.data() : nullptr};
        if (DlPopJobNotice(m_job, &notice) != DL_OK || notice.code == DL_NOTICE_NONE) return CLI_OK;
        text.resize(text.find('\0'));
        switch (notice.code) {
        case DL_NOTICE_DISK_FULL: {
            long long remaining = 0;
            DlGetJobRemaining(m_job, &remaining);
            return Fail(CLI_NO_SPACE, "硬碟(" + m_folder + ")的空間不足(" + FormatSize(static_cast<double>(remaining)) +
                                          ")。 (not enough disk space)");
        }
        case DL_NOTICE_NETWORK_LOST:
            Say("您的網路狀態不佳 (the network connection was lost; the download goes on when it returns)");
            break;
        case DL_NOTICE_NETWORK_RESTORED:
            Say("您的網路回復正常 (the network connection is back)");
            break;
        case DL_NOTICE_ENGINE_GAVE_UP:
            Say("Download engine: gave the download up; it goes on with the plain downloader");
            break;
        case DL_NOTICE_DOWNLOAD_FAILED:
            // A text that is a local path names a local failure (and its
            // reason): trying again later would not help.
            if (!text.empty() && text[0] == '/')
                return Fail(CLI_DOWNLOAD_FAILED, "下載VX2失敗 (cannot write " + TerminalSafe(text) + ")");
            return Fail(CLI_DOWNLOAD_FAILED, "下載VX2失敗 請稍候再試 (the download failed" +
                                                 (text.empty() ? std::string() : ": " + TerminalSafe(text)) + "; try again later)");
        default:
            break;
        }
    }
}

bool CDownloadRun::WaitFor(int wanted, int failed, DlEvent* event)
{
    for (;;) {
        if (m_inbox.Wait(event, kWaitSliceMs)) {
            if (event->code == wanted || event->code == failed) return true;
            if (event->code >= DL_EVENT_UPDATE_BEGIN && event->code <= DL_EVENT_UPDATE_FAILED) ShowEngineUpdate(event->code);
        } else if (CEventInbox::Interrupted()) {
            return false;
        }
    }
}

void CDownloadRun::ShowProgress(bool last)
{
    DlProgress progress{};
    if (DlGetJobProgress(m_job, &progress) != DL_OK) return;
    // A completed job is held by no downloader: the line keeps the last path.
    int path = DL_PATH_NONE;
    if (DlGetJobPath(m_job, &path) == DL_OK && path != DL_PATH_NONE) m_path = path;
    const int shownPath = m_path;
    m_progress.Show([&progress, shownPath](int columns) { return FormatProgressLine(progress, shownPath, columns); },
                    progress.bytesPresent + progress.filesDone, last);
}

void CDownloadRun::Say(const std::string& line)
{
    m_progress.Clear();
    if (m_options.quiet) return;
    // A URL's user name and password are not for the screen or a captured log.
    fprintf(m_out, "%s\n", HideUrlCredentials(line).c_str());
    fflush(m_out);
}

int CDownloadRun::InterruptedStatus()
{
    return CEventInbox::InterruptSignal() == SIGTERM ? CLI_TERMINATED : CLI_INTERRUPTED;
}

int CDownloadRun::Fail(int status, const std::string& reason)
{
    m_progress.Keep();
    fflush(m_out);
    fprintf(stderr, "zdrdl: %s\n", HideUrlCredentials(reason).c_str());
    return status;
}
