#pragma once
// One size probe of the plain downloader's file-size check: asks the
// server for a file's Content-Length with a GET whose connection is dropped
// once the header is in, and compares it with the free space of the volume
// that will hold the file.
//
// Bounds: kAttemptsPerUrl failed probes per alternative of the file's URL
// entry; 301, 302, 303, 307 and 308 are followed up to kMaxRedirects times
// per alternative without counting as attempts; an answer other than 200 or
// a redirect, or a 200 without a usable length, gives that alternative up at
// once. After the last alternative the probe fails with
// DL_NOTICE_DOWNLOAD_FAILED.
//
// Contract: used on the service thread with the network lock held by its
// checker, which owns it and is its listener (see
// IPlatformFileSizeCheckSessionEventListener.h). Destruction detaches from
// and closes any connection, handing it to the deferred-release collector.

#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwCHttpGetListener.h"
#include "service/CJob.h"
#include "service/IPlatformFileSizeCheckSessionEventListener.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class vqIHttpClientExLayer;

// Free bytes of the volume that holds a folder; negative when unknown.
typedef int64_t (*FreeSpaceFn)(const std::string& folder);

class CPlatformFileSizeCheckSession : public nwCHttpGetListener {
public:
    static constexpr int kAttemptsPerUrl = 3;
    static constexpr int kMaxRedirects = 10;
    static constexpr int32_t kTimeoutSeconds = 3;

    CPlatformFileSizeCheckSession();
    virtual ~CPlatformFileSizeCheckSession();
    CPlatformFileSizeCheckSession(const CPlatformFileSizeCheckSession&) = delete;
    CPlatformFileSizeCheckSession& operator=(const CPlatformFileSizeCheckSession&) = delete;

    void SetListener(IPlatformFileSizeCheckSessionEventListener* listener, void* context);
    // Probes for file (the checker's copy, not owned), whose size it sets.
    void Begin(CJobFile* file);

    // Null restores the volume's real free space.
    static void SetFreeSpaceSourceForTesting(FreeSpaceFn source);

    void OnResponseHeader(int32_t cookie) override;
    int32_t OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length) override;
    void OnReceiveComplete(int32_t cookie) override;
    void OnClosed(int32_t cookie) override;
    void OnConnectTimeout(int32_t cookie) override;
    void OnRecvTimeout(int32_t cookie) override;

private:
    void Probe();
    // Creates the connection and sends the request; false when that failed
    // at once (no event will follow).
    bool Connect();
    void DropConnection();
    void Fail(int code);
    vqIHttpClientExLayer* Layer() const;

    vqSmartPtr m_connection;
    CJobFile* m_file = nullptr;
    int m_attempts = 0;
    int m_redirects = 0;
    size_t m_alternativeIndex = 0;
    std::string m_currentUrl;
    std::string m_redirectUrl;
    // Why the last probe failed, for the log line of a failed check.
    std::string m_reason;
    // m_reason said for a person: the cause the failure's text carries.
    std::string m_cause;
    std::vector<std::string> m_alternatives;
    IPlatformFileSizeCheckSessionEventListener* m_listener = nullptr;
    void* m_context = nullptr;
};
