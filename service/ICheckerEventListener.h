#pragma once
// What a job's file-size check (CPlatformFileSizeChecker) tells the plain
// downloader.
//
// Contract:
// - Calls come on the service thread with the network lock held (or inside
//   the checker's Begin, which the downloader calls under it) and pass first
//   the context given to SetListener (the downloader's transfer record).
// - Exactly one call per Begin: OnCheckDone when every file has a size, or
//   OnCheckFailed with DL_NOTICE_DISK_FULL (a file is larger than the free
//   space of its volume) or DL_NOTICE_DOWNLOAD_FAILED (a file could not be
//   sized) and that file's URL entry (the checker's string, valid for the
//   call).
// - The listener may destroy the checker inside either call; the checker
//   touches nothing of itself afterwards. The checker does not own the
//   listener.

#include <cstdint>
#include <vector>

struct CPlatformSizeCheckResult {
    int64_t totalBytes = 0;
    int64_t bytesPresent = 0;
    int32_t fileCount = 0;
    // Per file of the job, in its order: the size the job gave or the check
    // found. An answer that contradicts it is not the file.
    std::vector<int64_t> sizes;
};

class ICheckerEventListener {
public:
    virtual void OnCheckDone(void* context, const CPlatformSizeCheckResult& result) = 0;
    virtual void OnCheckFailed(void* context, int code, const char* text) = 0;

protected:
    ~ICheckerEventListener() = default;
};
