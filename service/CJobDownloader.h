#pragma once
// The common part of the two job downloaders (the engine downloader and the
// plain downloader): the jobs a downloader holds, the once-a-second tick, and
// the routing of its findings into those jobs.
//
// Contract for subclasses: BeginJob runs when a job has been taken (it is
// running and held); EndJob after it was stopped and let go; TickJob once a
// second for every held job, before the job's progress event. All of them run
// on the service thread (or under the network lock for Start/Stop from the
// interface). A subclass may drop a job (PutNoticeAndDrop, PutComplete) from
// inside any of them, and the engine downloader may have the manager destroy
// it from inside TickJob. The manager listener is not owned; jobs are not owned.

#include "netlib/core/vqCLifeToken.h"
#include "netlib/core/vqSmartPtr.h"
#include "service/CJob.h"
#include "service/IJobDownloadEventListener.h"

#include <memory>
#include <vector>

class CJobDownloader {
public:
    static constexpr const char* kLibraryVersion = "3.5.0.2";

    // Empties the activity log: a service run's log starts with its
    // downloaders, each announcing the library's version.
    explicit CJobDownloader(IJobDownloadEventListener* manager);
    virtual ~CJobDownloader();

    // DL_ERR_ALREADY_RUNNING when the job is held already; otherwise the
    // answer of BeginJob.
    int StartJob(CJob* job);
    // DL_ERR_NOT_HELD when the job is not held; DL_OK otherwise.
    int StopJob(CJob* job);
    // DL_ERR_NOT_HELD when not held; otherwise AnswerResume and DL_OK.
    int ForwardResume(CJob* job, unsigned char resume, unsigned char applyToAll);
    // The answer to DlAnswerResume when this is the current downloader.
    virtual int HandleResumeAnswer(CJob* job, unsigned char resume, unsigned char applyToAll)
    {
        return AnswerResume(job, resume, applyToAll);
    }
    bool Holds(CJob* job, bool remove);
    size_t HeldCount() const { return m_jobs.size(); }
    bool NetworkDown() const { return m_networkDown != 0; }
    // Whether the once-a-second tick runs (it does while a job is held).
    bool Ticking() const { return m_ticking; }

    // The once-a-second tick: TickJob then ReportProgress for every held job.
    void Tick();

protected:
    virtual int BeginJob(CJob* job) = 0;
    virtual void EndJob(CJob* job) = 0;
    virtual void TickJob(CJob* job) = 0;
    virtual int AnswerResume(CJob*, unsigned char, unsigned char) { return DL_OK; }

    void PutProgress(CJob* job, const DlProgress& record);
    void PutNotice(CJob* job, int code, const char* text);
    void PutNoticeAndDrop(CJob* job, int code, const char* text);
    void PutFileDone(CJob* job, const char* path, const char* source);
    void PutFileDone(CJob* job, const char* path, const char* secondText, const char* source);
    // Lets the job go without a report (it moves to another downloader).
    bool DropJob(CJob* job);
    void PutSize(CJob* job, int fileCount, long long total);
    void PutComplete(CJob* job, int valueA, int valueB);

    IJobDownloadEventListener* Manager() const { return m_manager; }
    const std::vector<CJob*>& HeldJobs() const { return m_jobs; }
    void SetNetworkDown(bool down) { m_networkDown = down ? 1 : 0; }

private:
    static void OnTickTimer(void* self);
    void StartTickTimer();
    void StopTickTimerIfIdle();

    int m_networkDown = 0;
    vqSmartPtr m_tickTimer;
    bool m_ticking = false;
    std::vector<CJob*> m_jobs;
    IJobDownloadEventListener* m_manager;
    // A downloader may be destroyed from inside TickJob (the engine path
    // given up): the tick loop notices it through this.
    vqCLifeToken m_life;
};
