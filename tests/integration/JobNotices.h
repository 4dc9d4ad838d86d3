#pragma once
// A job's notices as a front end reads them through the service interface:
// popped one after the other until none is left.

#include "service/DlApi.h"

#include <string>
#include <vector>

struct JobNotice {
    int code;
    std::string text;
};

// Pops every notice the job holds now (they are gone from the job after).
inline std::vector<JobNotice> PopNotices(int job)
{
    std::vector<JobNotice> notices;
    for (;;) {
        int size = 0;
        DlGetJobNoticeSize(job, &size);
        std::vector<char> text(size > 0 ? size : 1, '\0');
        DlNotice notice{0, text.data()};
        DlPopJobNotice(job, &notice);
        if (notice.code == DL_NOTICE_NONE) return notices;
        notices.push_back({notice.code, text.data()});
    }
}

// As PopNotices, only their codes.
inline std::vector<int> PopNoticeCodes(int job)
{
    std::vector<int> codes;
    for (const JobNotice& notice : PopNotices(job)) codes.push_back(notice.code);
    return codes;
}
