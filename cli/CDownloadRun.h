#pragma once
// One run of the command-line downloader, as the downloader window does it:
// file list, size check, free-space check, job, progress, completion.

#include "cli/CEventInbox.h"
#include "cli/CliOptions.h"

#include <cstdio>
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
    CDownloadRun(const CliOptions& options, FILE* out, bool terminal);
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
    // One line for each step of the engine's update (events without a job).
    void ShowEngineUpdate(int code);
    int HandleNotices();
    // Waits for one of two events, ignoring others; false when interrupted.
    bool WaitFor(int wanted, int failed, DlEvent* event);
    void ShowProgress();
    void Say(const std::string& line);
    int Fail(int status, const std::string& reason);

    CliOptions m_options;
    FILE* m_out;
    bool m_terminal;
    bool m_lineShown = false;
    CEventInbox m_inbox;
    std::string m_folder;
    int m_job = 0;
};
