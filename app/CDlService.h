#pragma once
// IDlService over the download service's own functions (service/DlApi.h).

#include "app/IDlService.h"

class CDlService : public IDlService {
public:
    int Initialize(HWND window) override;
    int Finalize() override;
    int FetchData(const std::string& url) override;
    int GetFetchedSize(long long* size) override;
    int GetFetchedData(DlDataBuffer* buffer) override;
    int AddSizeCheckUrl(const std::string& url) override;
    int StartSizeCheck() override;
    int GetSizeCheckTotal(long long* total) override;
    int SetServiceId(const std::string& id) override;
    int CreateJob(int* job, const std::string& serviceId) override;
    int SetJobEngineFlag(int job) override;
    int AddJobFile(int job, const std::string& url, const std::string& folder, long long size, int flagA) override;
    int StartJob(int job, unsigned char mode) override;
    int StopJob(int job) override;
    int RemoveJob(int job) override;
    int AnswerResume(int job, bool resume, bool applyToAll) override;
    int GetJobRemaining(int job, long long* remaining) override;
    int PopJobNotice(int job, int* code) override;
    int PopJobFileDone(int job, int* sequence, std::string* text) override;
    int GetJobProgress(int job, DlProgress* progress) override;
};
