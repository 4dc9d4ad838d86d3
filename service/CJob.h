#pragma once
// One download order: the files with their URLs, folders and sizes, and the
// state the application queries (progress, notices, finished files, size,
// result). The application fills it through the interface while it is idle;
// a downloader runs it and reports into it on the service thread. Every
// operation runs under the network lock.

#include "service/CEventTarget.h"
#include "service/DlApi.h"

#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

enum class JobState { Idle = 0, Running = 1, Completed = 2 };

struct CJobFile {
    int index = 0;
    std::string url;    // trimmed
    std::string folder; // ends in '/'
    std::string name;
    char serviceId[33] = {};
    long long size = -1; // -1: unknown
    long long bytesDone = 0;
    long long startOffset = 0;
    int flagA = 0;
    int flagB = 0;
    int state = 0; // 0 pending, 2 completed

    std::string LocalPath() const { return folder + name; }
};

struct CJobNotice {
    int code = 0;
    bool hasText = false;
    std::string text;
};

class CJob {
public:
    CJob(int handle, int number, const char* tag, const char* serviceId, const CEventTarget& target);
    virtual ~CJob();

    int Handle() const { return m_handle; }
    int Number() const { return m_number; }
    JobState State() const { return m_state; }
    void SetState(JobState state) { m_state = state; }
    int Mode() const { return m_mode; }
    void SetMode(int mode) { m_mode = mode; }
    const char* Tag() const { return m_tag; }
    const char* ServiceId() const { return m_serviceId; }
    unsigned char EngineFlag() const { return m_engineFlag; }
    void SetEngineFlag() { m_engineFlag = 1; }
    int EngineTaskNumber() const { return m_engineTaskNumber; }
    void SetEngineTaskNumber(int number) { m_engineTaskNumber = number; }
    // The path (a DL_PATH_ value) of the downloader that started it last.
    int LastPath() const { return m_lastPath; }
    void SetLastPath(int path) { m_lastPath = path; }
    const std::vector<std::unique_ptr<CJobFile>>& Files() const { return m_files; }
    const DlProgress& Progress() const { return m_progress; }

    // DL_OK, or DL_ERR_URL (no URL), DL_ERR_FOLDER (no folder),
    // DL_ERR_GENERAL (not idle, or the same local path in any letter case is
    // already in the job).
    int AddFile(const char* url, const char* folder, const char* name, long long size, int flagA, int flagB);

    // Reports of the running downloader; each raises its event with the
    // job's handle as parameter.
    void ReportSize(int fileCount, long long total);
    void ReportProgress();
    void SetProgress(const DlProgress& progress) { m_progress = progress; }
    void ReportFileDone(const char* path, const char* secondText, const char* source);
    void ReportComplete(int valueA, int valueB);
    void AddNotice(int code, const char* text);
    void AskResume();

    // Queries of the interface.
    // The room the oldest notice's text needs (its length plus the NUL; 0
    // for an empty queue or a notice without text). The answer is also the
    // room PopNotice assumes the caller's text buffer has.
    int NoticeSize();
    // Empty queue: code DL_NOTICE_NONE, DL_OK. Otherwise the code, and the
    // text if the caller gave a buffer; DL_OK and the notice is gone. A text
    // that does not fit the room of the last NoticeSize (a notice queued
    // after that answer) is refused: DL_ERR_GENERAL, nothing written, the
    // notice stays first in the queue.
    int PopNotice(DlNotice* notice);
    void PopFileDone(DlFileDone* record);
    void TakeSizeInfo(DlSizeInfo* record);
    void TakeResult(DlJobResult* record);

    // The '/'-separated folder with one trailing '/' ('\' read as '/').
    static std::string NormalizeFolder(const char* folder);

private:
    static std::string KeyOf(const std::string& path);

    std::vector<std::unique_ptr<CJobFile>> m_files;
    std::unordered_map<std::string, CJobFile*> m_fileIndex;
    // Every name the files take in their folders, temporaries included (keys
    // as in m_fileIndex): no file may be written over another's.
    std::unordered_set<std::string> m_takenPaths;
    JobState m_state = JobState::Idle;
    int m_mode = 1;
    DlProgress m_progress{};
    char m_tag[4] = {};
    char m_serviceId[33] = {};
    CEventTarget m_target;
    std::unique_ptr<DlSizeInfo> m_pendingSize;
    std::unique_ptr<DlJobResult> m_pendingResult;
    int m_handle;
    int m_number;
    int m_engineTaskNumber = 0;
    int m_lastPath = DL_PATH_NONE;
    std::deque<DlFileDone> m_fileDone;
    std::deque<CJobNotice> m_notices;
    int m_noticeRoom = 0; // the last answer of NoticeSize
    int m_fileDoneSequence = 0;
    unsigned char m_engineFlag = 0;
};
