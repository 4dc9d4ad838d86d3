#pragma once
// Fetches the body of one URL into memory with a GET (the portal file list),
// following 301, 302, 303, 307 and 308 redirects (at most kMaxRedirects), and
// keeps it for the application to copy. The body is stored as it arrives, up
// to kMaxBodyBytes: an announced length is not trusted with memory, and a
// longer answer fails as unusable (reason 4). A chunked body is read through
// its framing and is whole only at its last chunk; broken framing is an
// unusable answer, a close before the last chunk a cut one (reason 6). A connection that brings fewer
// body bytes than the service's transfer floor (TransferFloor.h) in a
// window fails as too slow (reason 8): a trickle never trips the idle limit.
//
// Contract: Fetch runs under the network lock; the HTTP events and the
// one-second tick run on the service thread. The listener (the job manager)
// hears OnDataTick once a second while a fetch runs, then exactly one of
// OnDataReady or OnDataFailed per fetch; it must not destroy the session
// inside those calls. A new Fetch replaces a running one. The body stays
// here until the next successful answer or the session's end.

#include "netlib/core/vqSmartPtr.h"
#include "netlib/http/nwCChunkedDecoder.h"
#include "netlib/layers/nwCHttpGetListener.h"
#include "service/DlApi.h"
#include "service/IDataDownloadSessionEventListener.h"

#include <memory>
#include <string>
#include <vector>

class vqIHttpClientExLayer;
class vqIQoSContext;

// Reasons handed to OnDataFailed.
enum DataFailure {
    DATA_FAILED_CONNECT_TIMEOUT = 3,
    DATA_FAILED_BAD_ANSWER = 4,
    DATA_FAILED_RECEIVE_TIMEOUT = 5,
    DATA_FAILED_CLOSED = 6,
    DATA_FAILED_UNREACHABLE = 7,
    DATA_FAILED_TOO_SLOW = 8,
};

class CDataDownloadSession : public nwCHttpGetListener {
public:
    // A longer chain of redirects is a loop or a broken server.
    static constexpr int kMaxRedirects = 10;
    static constexpr int32_t kConnectTimeoutSeconds = 4;
    static constexpr int32_t kIdleSeconds = 4;
    // File lists are a few kilobytes; nothing this fetch serves comes near.
    static constexpr long long kMaxBodyBytes = 16 * 1024 * 1024;

    explicit CDataDownloadSession(IDataDownloadSessionEventListener* listener);
    virtual ~CDataDownloadSession();
    CDataDownloadSession(const CDataDownloadSession&) = delete;
    CDataDownloadSession& operator=(const CDataDownloadSession&) = delete;

    void SetListener(IDataDownloadSessionEventListener* listener) { m_listener = listener; }
    // An empty URL does nothing.
    void Fetch(const char* url);
    // DL_OK and the body size when a body is held, else DL_ERR_GENERAL.
    int GetSize(long long* size) const;
    // DL_OK when the buffer is exactly the body's size, else DL_ERR_GENERAL
    // (nothing copied).
    int GetData(DlDataBuffer* buffer) const;
    bool Fetching() const { return m_connection.Get() != nullptr; }
    // After OnDataFailed: the URL that failed and why ("URL: cause").
    const std::string& GetFailure() const { return m_failure; }

    void OnConnected(int32_t cookie) override;
    void OnResponseHeader(int32_t cookie) override;
    int32_t OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length) override;
    void OnReceiveComplete(int32_t cookie) override;
    void OnClosed(int32_t cookie) override;
    void OnConnectTimeout(int32_t cookie) override;
    void OnRecvTimeout(int32_t cookie) override;
    void OnHostUnreach(int32_t cookie) override;

private:
    // False when the request could not even be started.
    bool Connect(const std::string& url);
    void EndFetch(bool markAddressFailed);
    // The body is in: it becomes the one kept.
    void Complete();
    // Reads a chunked answer's framing off the bytes and keeps its body.
    void TakeChunked(const unsigned char* data, int32_t length);
    // cause says the reason for a person; the log and GetFailure carry it.
    void Fail(int reason, bool markAddressFailed, const std::string& cause);
    vqIQoSContext* Context() const;
    vqIHttpClientExLayer* Layer() const;
    static void OnTick(void* self);
    // False (and the fetch failed) when a whole window passed below the floor.
    bool AboveFloor();

    IDataDownloadSessionEventListener* m_listener;
    // The last complete body, and the one arriving.
    std::vector<unsigned char> m_body;
    std::vector<unsigned char> m_incoming;
    long long m_contentLength = 0;
    // The answer's body comes in the chunked coding, read by m_chunks.
    bool m_chunked = false;
    nwCChunkedDecoder m_chunks;
    // The answered body's size, kept apart from the next fetch's length so a
    // failed later fetch leaves the last body readable.
    long long m_bodySize = 0;
    vqSmartPtr m_tickTimer;
    bool m_ticking = false;
    vqSmartPtr m_connection;
    std::string m_url;
    std::string m_redirectUrl;
    int m_redirects = 0;
    std::string m_failure;
    // The floor's window: when it began (the connection's start, or the end
    // of the last window) and the body bytes it has seen.
    uint64_t m_windowStartMs = 0;
    int64_t m_windowBytes = 0;
};
