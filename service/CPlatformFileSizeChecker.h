#pragma once
// The plain downloader's file-size check of one job: learns the size of every
// file the job does not know (one CPlatformFileSizeCheckSession each, at most
// kMaxProbes at once), checks each against the free space of its volume, and
// reports the job's total, the bytes counted as present and the number of
// files (ICheckerEventListener.h).
//
// Contract: used on the service thread with the network lock held by the
// plain downloader, which owns it. Begin once. The result may come from
// inside Begin (every size known, or a probe that fails at once). Destruction
// destroys the running probes.

#include "netlib/core/vqCLifeToken.h"
#include "service/CJob.h"
#include "service/CPlatformFileSizeCheckSession.h"
#include "service/ICheckerEventListener.h"
#include "service/IPlatformFileSizeCheckSessionEventListener.h"

#include <cstdint>
#include <memory>
#include <vector>

class CPlatformFileSizeChecker : public IPlatformFileSizeCheckSessionEventListener {
public:
    static constexpr size_t kMaxProbes = 5;

    CPlatformFileSizeChecker();
    virtual ~CPlatformFileSizeChecker();
    CPlatformFileSizeChecker(const CPlatformFileSizeChecker&) = delete;
    CPlatformFileSizeChecker& operator=(const CPlatformFileSizeChecker&) = delete;

    void SetListener(ICheckerEventListener* listener, void* context);
    void Begin(const std::vector<std::unique_ptr<CJobFile>>& files);
    size_t RunningCount() const { return m_running.size(); }

    void OnSizeKnown(void* context) override;
    void OnSizeFailed(void* context, int code, const char* text) override;

private:
    void StartMore();
    void Report();

    size_t m_started = 0;
    size_t m_finished = 0;
    std::vector<std::unique_ptr<CJobFile>> m_files;
    // Every file's size in the job's order; m_files[i] fills m_sizes[m_slots[i]].
    std::vector<int64_t> m_sizes;
    std::vector<size_t> m_slots;
    std::vector<std::unique_ptr<CPlatformFileSizeCheckSession>> m_running;
    int64_t m_knownTotal = 0;
    int64_t m_knownPresent = 0;
    int32_t m_knownCount = 0;
    ICheckerEventListener* m_listener = nullptr;
    void* m_context = nullptr;
    // StartMore reads its watch after each probe's Begin, which may end in
    // the listener destroying the checker.
    vqCLifeToken m_life;
};
