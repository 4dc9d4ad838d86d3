#pragma once
// One run of the command-line downloader, as the downloader window does it:
// file list, size check, free-space check, job, progress, completion.

#include "cli/CEventInbox.h"
#include "cli/CProgressDisplay.h"
#include "cli/CTerminalQuestion.h"
#include "cli/CliOptions.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

enum CliExit {
    CLI_OK = 0,
    CLI_BAD_COMMAND_LINE = 1,
    CLI_SERVICE_FAILED = 2,
    CLI_LIST_FAILED = 3,
    CLI_SIZE_CHECK_FAILED = 4,
    CLI_NO_SPACE = 5,
    CLI_DOWNLOAD_FAILED = 6,
    CLI_INTERRUPTED = 130,
    CLI_TERMINATED = 143,
};

class CDownloadRun {
public:
    // out: messages; progressOut: the status line, shown as progress says.
    // questionFd: where the answers to questions are typed (a terminal), or
    // -1: nothing is asked, the options answer.
    CDownloadRun(const CliOptions& options, FILE* out, FILE* progressOut, ProgressMode progress, int questionFd);
    ~CDownloadRun();

    // Runs to the end and answers the exit status; the service is finalised.
    // Interrupted: 130 after SIGINT, 143 after SIGTERM.
    int Execute();

private:
    int Download();
    int FetchList(std::vector<std::string>* entries);
    int CheckSizes(const std::vector<std::string>& entries, long long* total);
    int CheckFolder(long long total);
    int StartJob(const std::vector<std::string>& entries);
    // --no-resume on the plain path: the parts an earlier run left in the
    // folder are deleted, so every file starts over. A part another run is
    // writing (its lock is held) is left alone; that run keeps it.
    void ForgetPartialDownloads(const std::vector<std::string>& entries);
    int FollowJob();
    // A line for the start and the end of the engine's update, and its
    // progress on the status line (events without a job).
    void ShowEngineUpdate(int code);
    // The engine asks whether to resume a partial download: the options
    // answer, or the user on the terminal. Non-zero: the exit status.
    int AnswerResumeQuestion();
    int HandleNotices();
    // Waits for one of two events, ignoring others; false when interrupted.
    bool WaitFor(int wanted, int failed, DlEvent* event);
    // last: the job's end (its final line, shown once).
    void ShowProgress(bool last);
    // A message line; none under --quiet.
    void Say(const std::string& line);
    int Fail(int status, const std::string& reason);
    // 143 when SIGTERM stopped us, else 130.
    static int InterruptedStatus();

    CliOptions m_options;
    FILE* m_out;
    CProgressDisplay m_progress;
    std::unique_ptr<CTerminalQuestion> m_question;
    // The update's start is announced once per run of the update; its
    // progress is drawn at most every kUpdateLinePeriod.
    bool m_updateAnnounced = false;
    std::chrono::steady_clock::time_point m_updateDrawn{};
    CEventInbox m_inbox;
    std::string m_folder;
    // The job's entries, to name its partial downloads.
    std::vector<std::string> m_entries;
    int m_job = 0;
    // Where the job last ran (a DL_PATH_ value).
    int m_path = 0;
};
