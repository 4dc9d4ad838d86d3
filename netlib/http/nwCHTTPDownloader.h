#pragma once
// Fetches whole resources into memory over the HTTP client layer, one
// connection context per running download: follows 302 and 303 (at most
// kMaxRedirects in a row), retries a connect that finds the host
// unreachable (kMaxUnreachable connects in all), and reports each download
// once (see vqIHTTPDownloader.h and nwIHTTPDownloadSink.h).
//
// Limits: a body is kept whole in memory, so a Content-Length of 0 or above
// kMaxBodySize fails the download before anything is allocated; bytes past
// Content-Length are dropped.

#include "netlib/core/vqCRefCounted.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/http/vqIHTTPDownloader.h"
#include "netlib/layers/nwCHttpGetListener.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>

class nwCHTTPDownloader : public vqCRefCounted<vqIHTTPDownloader>, public nwCHttpGetListener {
public:
    static constexpr int32_t kMaxRedirects = 10;
    static constexpr int32_t kMaxUnreachable = 3;
    static constexpr int64_t kMaxBodySize = 64 * 1024 * 1024;
    static constexpr int32_t kIdleLimitSeconds = 5;

    nwCHTTPDownloader() = default;
    ~nwCHTTPDownloader() override;
    nwCHTTPDownloader(const nwCHTTPDownloader&) = delete;
    nwCHTTPDownloader& operator=(const nwCHTTPDownloader&) = delete;

    vqRESULT SetSink(nwIHTTPDownloadSink* sink) override;
    vqRESULT Download(int32_t id, const char* url, int32_t value) override;
    vqRESULT Cancel(int32_t id) override;
    vqRESULT CancelAll() override;

    // nwIHttpClientExEventListener; the cookie names the record.
    void OnResponseHeader(int32_t cookie) override;
    int32_t OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length) override;
    void OnReceiveComplete(int32_t cookie) override;
    void OnClosed(int32_t cookie) override;
    void OnConnectTimeout(int32_t cookie) override;
    void OnRecvTimeout(int32_t cookie) override;
    void OnHostUnreach(int32_t cookie) override;

    // Running records (a download being retried or redirected counts once).
    size_t RunningCount() const { return m_records.size(); }

private:
    enum class Report { None, Failed, Unreachable };
    struct Record {
        int32_t key;
        int32_t id;
        int32_t value;
        int32_t attempts;
        int32_t redirects;
        std::unique_ptr<unsigned char[]> buffer;
        int32_t size = 0;
        int32_t filled = 0;
        vqSmartPtr connection;
        std::string url;
    };

    void Start(int32_t id, const std::string& url, int32_t value, int32_t attempts, int32_t redirects);
    Record* Find(int32_t key);
    // Removes the record and ends its connection; then reports if asked.
    void Finish(Record* record, Report report);
    void ReportFailed(int32_t id, int32_t value);

    nwIHTTPDownloadSink* m_sink = nullptr;
    std::list<std::unique_ptr<Record>> m_records;
    int32_t m_nextKey = 1;
};
