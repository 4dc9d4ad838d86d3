#include "app/CDlService.h"

#include "app/SystemText.h"

#include <cstring>

int CDlService::Initialize(HWND window)
{
    return DlInitialize(window, nullptr, nullptr);
}

int CDlService::Finalize()
{
    return DlFinalize();
}

int CDlService::FetchData(const std::string& url)
{
    return DlFetchData(ToSystemText(url).c_str());
}

int CDlService::GetFetchedSize(long long* size)
{
    return DlGetFetchedSize(size);
}

int CDlService::GetFetchedData(DlDataBuffer* buffer)
{
    return DlGetFetchedData(buffer);
}

int CDlService::AddSizeCheckUrl(const std::string& url)
{
    return DlAddSizeCheckUrl(ToSystemText(url).c_str());
}

int CDlService::StartSizeCheck()
{
    return DlStartSizeCheck();
}

int CDlService::GetSizeCheckTotal(long long* total)
{
    return DlGetSizeCheckTotal(total);
}

int CDlService::SetServiceId(const std::string& id)
{
    return DlSetServiceId(ToSystemText(id).c_str());
}

int CDlService::CreateJob(int* job, const std::string& serviceId)
{
    return DlCreateJob(job, nullptr, ToSystemText(serviceId).c_str());
}

int CDlService::SetJobEngineFlag(int job)
{
    return DlSetJobEngineFlag(job);
}

int CDlService::AddJobFile(int job, const std::string& url, const std::string& folder, long long size, int flagA)
{
    const auto bits = static_cast<unsigned long long>(size);
    return DlAddJobFile(job, ToSystemText(url).c_str(), ToSystemText(folder).c_str(), nullptr,
                        static_cast<unsigned int>(bits & 0xFFFFFFFFu), static_cast<int>(bits >> 32), flagA);
}

int CDlService::StartJob(int job, unsigned char mode)
{
    return DlStartJob(job, mode);
}

int CDlService::StopJob(int job)
{
    return DlStopJob(job);
}

int CDlService::RemoveJob(int job)
{
    return DlRemoveJob(job);
}

int CDlService::AnswerResume(int job, bool resume, bool applyToAll)
{
    return DlAnswerResume(job, resume ? 1 : 0, applyToAll ? 1 : 0);
}

int CDlService::GetJobRemaining(int job, long long* remaining)
{
    return DlGetJobRemaining(job, remaining);
}

int CDlService::PopJobNotice(int job, int* code)
{
    // No text buffer: the service then drops the text with the notice.
    DlNotice notice{DL_NOTICE_NONE, nullptr};
    const int result = DlPopJobNotice(job, &notice);
    *code = notice.code;
    return result;
}

int CDlService::PopJobFileDone(int job, int* sequence, std::string* text)
{
    DlFileDone record{};
    const int result = DlPopJobFileDone(job, &record);
    *sequence = record.sequence;
    // The text need not end inside the record.
    text->assign(record.text, strnlen(record.text, sizeof record.text));
    *text = FromSystemText(*text);
    return result;
}

int CDlService::GetJobProgress(int job, DlProgress* progress)
{
    return DlGetJobProgress(job, progress);
}
