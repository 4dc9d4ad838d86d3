#pragma once
// A job downloader that records what the manager asks of it and lets a test
// play the downloader's reports.

#include "service/CJobDownloader.h"

#include <vector>

class FakeJobDownloader : public CJobDownloader {
public:
    explicit FakeJobDownloader(IJobDownloadEventListener* manager) : CJobDownloader(manager) {}

    std::vector<CJob*> begun;
    std::vector<CJob*> ended;
    std::vector<CJob*> ticked;
    int resumeAnswers = 0;
    // Reported from BeginJob, as a downloader does once it knows the size.
    long long sizeOnBegin = -1;

    using CJobDownloader::PutComplete;
    using CJobDownloader::PutFileDone;
    using CJobDownloader::PutNotice;
    using CJobDownloader::PutNoticeAndDrop;
    using CJobDownloader::PutProgress;
    using CJobDownloader::PutSize;

protected:
    int BeginJob(CJob* job) override
    {
        begun.push_back(job);
        if (sizeOnBegin >= 0) PutSize(job, static_cast<int>(job->Files().size()), sizeOnBegin);
        return DL_OK;
    }
    void EndJob(CJob* job) override { ended.push_back(job); }
    void TickJob(CJob* job) override { ticked.push_back(job); }
    int AnswerResume(CJob*, unsigned char, unsigned char) override
    {
        ++resumeAnswers;
        return DL_OK;
    }
};
