#pragma once
// One run of the command-line downloader, as the downloader window does it:
// file list, size check, free-space check, job, progress, completion.

#include "cli/CEventInbox.h"
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
};

class CDownloadRun {
public:
    // terminal: out is a terminal (the status line is redrawn in place).
    // questionFd: where the answers to questions are typed (a terminal), or
    // -1: nothing is asked, the options answer.
    CDownloadRun(const CliOptions& options, FILE* out, bool terminal, int questionFd);
    ~CDownloadRun();

    // Runs to the end and answers the exit status; the service is finalised.
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
    void ShowProgress();
    // The status line: redrawn in place on a terminal, else one line.
    void Draw(const std::string& line);
    void Say(const std::string& line);
    int Fail(int status, const std::string& reason);

    CliOptions m_options;
    FILE* m_out;
    bool m_terminal;
    bool m_lineShown = false;
    std::unique_ptr<CTerminalQuestion> m_question;
    // The update's start is announced once per run of the update; its
    // progress is drawn at most every kUpdateLineMs.
    bool m_updateAnnounced = false;
    std::chrono::steady_clock::time_point m_updateDrawn{};
    CEventInbox m_inbox;
    std::string m_folder;
    int m_job = 0;
    // Where the job last ran (a DL_PATH_ value).
    int m_path = 0;
};
