#include "service/CJob.h"

#include "service/HttpTransferRules.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\v' || ch == '\f';
}

std::string Trim(const char* text)
{
    std::string value(text);
    size_t begin = 0;
    while (begin < value.size() && IsBlank(value[begin])) ++begin;
    size_t end = value.size();
    while (end > begin && IsBlank(value[end - 1])) --end;
    return value.substr(begin, end - begin);
}

void CopyLimited(char* target, size_t capacity, const char* source)
{
    if (source) snprintf(target, capacity, "%s", source);
}

} // namespace

CJob::CJob(int handle, int number, const char* tag, const char* serviceId, const CEventTarget& target)
    : m_target(target), m_handle(handle), m_number(number)
{
    CopyLimited(m_tag, sizeof m_tag, tag);
    CopyLimited(m_serviceId, sizeof m_serviceId, serviceId);
}

CJob::~CJob() = default;

std::string CJob::NormalizeFolder(const char* folder)
{
    std::string value = folder ? folder : "";
    for (char& ch : value)
        if (ch == '\\') ch = '/';
    if (value.empty() || value.back() != '/') value += '/';
    return value;
}

std::string CJob::KeyOf(const std::string& path)
{
    std::string key = path;
    for (char& ch : key)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return key;
}

int CJob::AddFile(const char* url, const char* folder, const char* name, long long size, int flagA, int flagB)
{
    if (m_state != JobState::Idle) return DL_ERR_GENERAL;
    if (!url || !url[0]) return DL_ERR_URL;
    if (!folder || !folder[0]) return DL_ERR_FOLDER;

    auto file = std::make_unique<CJobFile>();
    // "a.bin|" names a.bin: an empty alternative is no part of the name.
    file->url = JoinAlternatives(SplitAlternatives(Trim(url)));
    if (file->url.empty()) return DL_ERR_URL;
    if (name && name[0]) {
        file->name = name;
    } else {
        file->name = EntryFileName(file->url);
    }
    file->folder = NormalizeFolder(folder);
    std::string key = KeyOf(file->LocalPath());
    if (m_fileIndex.count(key)) return DL_ERR_GENERAL;
    std::vector<std::string> taken;
    for (const std::string& name : NamesTakenBy(file->name)) {
        taken.push_back(KeyOf(file->folder + name));
        if (m_takenPaths.count(taken.back())) return DL_ERR_GENERAL;
    }

    file->index = static_cast<int>(m_files.size());
    memcpy(file->serviceId, m_serviceId, sizeof file->serviceId);
    file->size = size;
    file->flagA = flagA;
    file->flagB = flagB;
    m_fileIndex[key] = file.get();
    m_takenPaths.insert(taken.begin(), taken.end());
    m_files.push_back(std::move(file));
    return DL_OK;
}

void CJob::ReportSize(int fileCount, long long total)
{
    if (m_state != JobState::Running || m_progress.bytesPresent != 0) return;
    m_pendingSize = std::make_unique<DlSizeInfo>(DlSizeInfo{fileCount, total});
    m_target.Raise(DL_EVENT_JOB_SIZE, m_handle);
}

void CJob::ReportProgress()
{
    if (m_state != JobState::Running || m_progress.bytesPresent == 0) return;
    m_target.Raise(DL_EVENT_JOB_PROGRESS, m_handle);
}

void CJob::ReportFileDone(const char* path, const char* secondText, const char* source)
{
    if (!path) return;
    auto it = m_fileIndex.find(KeyOf(path));
    if (it == m_fileIndex.end() || it->second->state == 2) return;
    it->second->state = 2;
    DlFileDone record{};
    record.fileCount = m_progress.fileCount;
    record.sequence = ++m_fileDoneSequence;
    snprintf(record.text, sizeof record.text, "%s,%s", source ? source : "",
             secondText && secondText[0] ? secondText : path);
    m_fileDone.push_back(record);
    m_target.Raise(DL_EVENT_FILE_DONE, m_handle);
}

void CJob::ReportComplete(int valueA, int valueB)
{
    ReportProgress();
    m_state = JobState::Completed;
    m_pendingResult = std::make_unique<DlJobResult>(DlJobResult{static_cast<int>(m_files.size()), valueA, valueB});
    m_target.Raise(DL_EVENT_JOB_COMPLETE, m_handle);
}

void CJob::AddNotice(int code, const char* text)
{
    CJobNotice notice;
    notice.code = code;
    if (text && text[0]) {
        notice.hasText = true;
        notice.text = text;
    }
    m_notices.push_back(std::move(notice));
    m_target.Raise(DL_EVENT_NOTICE, m_handle);
}

void CJob::AskResume()
{
    m_target.Raise(DL_EVENT_ASK_RESUME, m_handle);
}

int CJob::NoticeSize()
{
    m_noticeRoom = 0;
    if (!m_notices.empty() && m_notices.front().hasText) m_noticeRoom = static_cast<int>(m_notices.front().text.size()) + 1;
    return m_noticeRoom;
}

int CJob::PopNotice(DlNotice* notice)
{
    if (m_notices.empty()) {
        notice->code = DL_NOTICE_NONE;
        return DL_OK;
    }
    const CJobNotice& front = m_notices.front();
    const bool copyText = notice->text && front.hasText;
    if (copyText && front.text.size() + 1 > static_cast<size_t>(m_noticeRoom)) return DL_ERR_GENERAL;
    notice->code = front.code;
    if (copyText) memcpy(notice->text, front.text.c_str(), front.text.size() + 1);
    m_notices.pop_front();
    m_noticeRoom = 0;
    return DL_OK;
}

void CJob::PopFileDone(DlFileDone* record)
{
    if (m_fileDone.empty()) return;
    *record = m_fileDone.front();
    m_fileDone.pop_front();
}

void CJob::TakeSizeInfo(DlSizeInfo* record)
{
    if (!m_pendingSize) return;
    *record = *m_pendingSize;
    m_pendingSize.reset();
}

void CJob::TakeResult(DlJobResult* record)
{
    if (!m_pendingResult) return;
    *record = *m_pendingResult;
    m_pendingResult.reset();
}
