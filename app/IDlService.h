#pragma once
// The download service's functions as the main dialog calls them, so that
// the dialog's rules can be checked against a scripted service.
//
// Contract:
// - Each function does what the Dl function of the same name does
//   (service/DlApi.h) and returns its result (DL_OK on success).
// - Strings are UTF-8, the dialog's own text; the implementation converts
//   them to and from the service's encoding at each call.
// - Called on the UI thread only.

#include "service/DlApi.h"

#include <string>

class IDlService {
public:
    virtual ~IDlService() = default;
    virtual int Initialize(HWND window) = 0;
    virtual int Finalize() = 0;
    virtual int FetchData(const std::string& url) = 0;
    virtual int GetFetchedSize(long long* size) = 0;
    virtual int GetFetchedData(DlDataBuffer* buffer) = 0;
    virtual int AddSizeCheckUrl(const std::string& url) = 0;
    virtual int StartSizeCheck() = 0;
    virtual int GetSizeCheckTotal(long long* total) = 0;
    virtual int SetServiceId(const std::string& id) = 0;
    // No tag; the service identifier names the job's service.
    virtual int CreateJob(int* job, const std::string& serviceId) = 0;
    virtual int SetJobEngineFlag(int job) = 0;
    // No file name; size -1 means unknown.
    virtual int AddJobFile(int job, const std::string& url, const std::string& folder, long long size,
                           int flagA) = 0;
    virtual int StartJob(int job, unsigned char mode) = 0;
    virtual int StopJob(int job) = 0;
    virtual int RemoveJob(int job) = 0;
    virtual int AnswerResume(int job, bool resume, bool applyToAll) = 0;
    virtual int GetJobRemaining(int job, long long* remaining) = 0;
    // The oldest notice's code (DL_NOTICE_NONE when none is queued); its
    // text is dropped, the dialog shows texts of its own.
    virtual int PopJobNotice(int job, int* code) = 0;
    // The oldest file-done record, its text converted to UTF-8.
    virtual int PopJobFileDone(int job, int* sequence, std::string* text) = 0;
    virtual int GetJobProgress(int job, DlProgress* progress) = 0;
};
