#pragma once
// The plain downloader: runs jobs itself over HTTP and HTTPS when the
// download engine cannot be used. For each job it first checks the sizes of
// the files and the free space (CPlatformFileSizeChecker), then transfers the
// files one after another (CPlatformSession), turns what they report into the
// job's events (size 513, progress 514, file done 515, completion 516,
// notices 517), watches the Internet connection once a second, and reports
// the bytes it transferred to the agent server (CPlatformReporter).
//
// Contract: made and destroyed by the job manager; StartJob, StopJob and the
// tick come under the network lock, as do every session and checker call.
// The downloader owns one transfer record per running job, and the record
// owns the job's checker and session. A job whose transfer failed stays held
// (with notice 517) until the application stops or removes it.

#include "netlib/core/vqCLifeToken.h"
#include "service/CJobDownloader.h"
#include "service/CPlatformFileSizeChecker.h"
#include "service/CPlatformReporter.h"
#include "service/CPlatformSession.h"
#include "service/ICheckerEventListener.h"
#include "service/IPlatFormSessionEventListener.h"

#include <cstdint>
#include <memory>
#include <vector>

class CPlatFormDownloader : public CJobDownloader, public IPlatFormSessionEventListener, public ICheckerEventListener {
public:
    explicit CPlatFormDownloader(IJobDownloadEventListener* manager);
    ~CPlatFormDownloader() override;
    CPlatFormDownloader(const CPlatFormDownloader&) = delete;
    CPlatFormDownloader& operator=(const CPlatFormDownloader&) = delete;

    // IPlatFormSessionEventListener
    void OnAllFilesDone(void* context) override;
    void OnTransferFailed(void* context, const char* text) override;
    void OnFileDone(void* context, const CJobFile& file) override;
    void OnProgress(void* context) override;
    void OnFileOpened(void* context, const char* path) override;
    void OnNotice(void* context, int code, const char* text) override;

    // ICheckerEventListener
    void OnCheckDone(void* context, const CPlatformSizeCheckResult& result) override;
    void OnCheckFailed(void* context, int code, const char* text) override;

    // Under the network lock: whether transfer reports still wait to be sent
    // or answered; Flush connects for queued ones.
    bool ReportsPending() const { return m_reporter && m_reporter->Pending(); }
    void FlushReports()
    {
        if (m_reporter) m_reporter->Flush();
    }

protected:
    int BeginJob(CJob* job) override;
    void EndJob(CJob* job) override;
    void TickJob(CJob* job) override;

private:
    struct TransferRecord {
        std::unique_ptr<CPlatformFileSizeChecker> checker;
        std::unique_ptr<CPlatformSession> session;
        CJob* job = nullptr;
        int64_t total = 0;
        int64_t presentAtStart = 0;
        int32_t fileCount = 0;
        int32_t filesCompleted = 0;
        std::vector<int64_t> sizes; // what the size check found, per file
        int64_t startTime = 0; // wall-clock seconds when the size check finished
        // A job event may let the application stop or remove the job, and so
        // end the record, inside a report.
        vqCLifeToken life;
    };

    TransferRecord* FindRecord(CJob* job) const;
    std::unique_ptr<TransferRecord> TakeRecord(const TransferRecord* record);
    void StartSizeCheck(TransferRecord& record);
    void StartSession(TransferRecord& record);
    DlProgress ComputeProgress(const TransferRecord& record) const;
    void ReportTransferred(const TransferRecord& record);

    std::vector<std::unique_ptr<TransferRecord>> m_records;
    std::unique_ptr<CPlatformReporter> m_reporter;
};
