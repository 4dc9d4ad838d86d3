#include "app/CBannerFetcher.h"

#include "platform/HttpFetch.h"

CBannerFetcher::~CBannerFetcher()
{
    m_cancel = true;
    for (std::thread& worker : m_workers) worker.join();
}

void CBannerFetcher::Fetch(const wxString& url, CExplorer1::Done done)
{
    const std::string target(url.utf8_str());
    m_workers.emplace_back([this, target, done = std::move(done)] {
        std::string body;
        const bool ok = HttpFetch(target, kMaxBytes, kTimeoutMs, &m_cancel, &body);
        if (m_cancel) return;
        m_owner.CallAfter([done, ok, body = std::move(body)] { done(ok, body); });
    });
}
