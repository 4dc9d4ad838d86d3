#pragma once
// Learns the size of one listed file: a GET whose answer header gives the
// Content-Length, the connection dropped without reading the body. Tries the
// entry's alternatives in order, three attempts each; follows 301, 302, 303,
// 307 and 308 (at most kMaxRedirects per alternative, not counted as
// attempts). A 200 without a usable length is a failed attempt. Only when
// the last alternative has failed (or is unreachable) does the check fail.
//
// Contract: owned by its checker; runs under the network lock on the
// service thread (Probe also from the checker's Start). Every outcome ends
// in exactly one report to the checker, which may destroy the session from
// inside that report.

#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwCHttpGetListener.h"
#include "service/IContentLengthCheckSessionEventListener.h"

#include <cstdint>
#include <string>
#include <vector>

class vqIHttpClientExLayer;

class CContentLengthCheckSession : public nwCHttpGetListener {
public:
    static constexpr int kMaxAttempts = 3;
    static constexpr int kMaxRedirects = 10;
    static constexpr int32_t kIdleSeconds = 3;

    explicit CContentLengthCheckSession(IContentLengthCheckSessionEventListener* checker) : m_checker(checker) {}
    virtual ~CContentLengthCheckSession();
    CContentLengthCheckSession(const CContentLengthCheckSession&) = delete;
    CContentLengthCheckSession& operator=(const CContentLengthCheckSession&) = delete;

    // The entry's alternatives ('|'-separated); the URL is the first.
    void SetUrl(int index, const char* entry);
    void Probe();
    // Detaches from the checker and drops any connection.
    void Detach();
    // The alternative being probed.
    const std::string& Url() const { return m_url; }
    // After a failed report: the URL that failed last and why ("URL: cause").
    std::string Failure() const;

    void OnResponseHeader(int32_t cookie) override;
    int32_t OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length) override;
    void OnReceiveComplete(int32_t cookie) override;
    void OnClosed(int32_t cookie) override;
    void OnConnectTimeout(int32_t cookie) override;
    void OnRecvTimeout(int32_t cookie) override;
    void OnHostUnreach(int32_t cookie) override;

private:
    void EndConnection();
    // Starts one request to the redirect URL or the URL; false when it could
    // not even be started.
    bool Connect();
    // Moves to the next alternative; false when there is none.
    bool NextAlternative();
    void ReportUnreachable(const std::string& cause);
    // Why the current URL cannot be connected to at all.
    std::string UnusableCause() const;
    vqIHttpClientExLayer* Layer() const;

    int m_attempts = 0;
    int m_redirects = 0;
    size_t m_alternativeIndex = 0;
    std::vector<std::string> m_alternatives;
    int m_index = -1;
    int64_t m_contentLength = 0;
    std::string m_url;
    std::string m_redirectUrl;
    std::string m_reason;
    // m_reason said for a person: the cause a message carries.
    std::string m_cause;
    vqSmartPtr m_connection;
    IContentLengthCheckSessionEventListener* m_checker;
};
