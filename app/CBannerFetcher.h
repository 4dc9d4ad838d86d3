#pragma once
// Fetches the banner for CExplorer1 on a worker thread of its own and hands
// the answer to the window's loop. Whatever is still being fetched when this
// object goes is cancelled and waited for, so no answer arrives late.

#include "app/CExplorer1.h"

#include <atomic>
#include <thread>
#include <vector>

class CBannerFetcher {
public:
    static constexpr size_t kMaxBytes = 8 * 1024 * 1024;
    static constexpr int kTimeoutMs = 20000;

    // Answers are queued to owner, which must outlive this object.
    explicit CBannerFetcher(wxEvtHandler& owner) : m_owner(owner) {}
    ~CBannerFetcher();
    CBannerFetcher(const CBannerFetcher&) = delete;
    CBannerFetcher& operator=(const CBannerFetcher&) = delete;

    // A CExplorer1::Fetcher.
    void Fetch(const wxString& url, CExplorer1::Done done);

private:
    wxEvtHandler& m_owner;
    std::atomic<bool> m_cancel{false};
    std::vector<std::thread> m_workers;
};
