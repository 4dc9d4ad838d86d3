#pragma once
// One HTTP transfer of the engine update into memory: fetches the URL its
// record names (digest list, description or file data), holds the whole
// body and hands it to the record.
//
// Contract:
// - Service thread only; Start takes the network lock around the connection
//   set-up, the HTTP events arrive with it held. Listener calls follow
//   IDownloadSessionEventListener.h.
// - Start with a record whose transfer URL is empty does nothing. A URL the
//   HTTP layer cannot connect to is reported as SESSION_ERROR_UNREACHABLE
//   from inside Start.
// - A connect refused (answered well before the connect time-out) is
//   SESSION_ERROR_UNREACHABLE like an unreachable host; only the expiry of
//   the time-out is SESSION_ERROR_CONNECT_TIMEOUT.
// - Only a 200 with a positive Content-Length of at most kMaxBodyBytes
//   (kMaxDescriptionBytes for the update description, kMaxDigestListBytes
//   for a digest list or the description's signature) is taken; redirects
//   are not followed. The body is allocated once from the
//   announced length, after that bound is checked.
// - After the digest list of a record arrived the session goes on with the
//   record's data by itself (one more Start); OnSessionDone comes once the
//   record's stage has ended.
// - busy is set by Start and cleared by a failure; a session whose record
//   completed stays busy. The owner attaches and detaches records; the
//   session never owns one.

#include "engine/DigestList.h"
#include "engine/IDownloadSessionEventListener.h"
#include "engine/ctCMD4.h"
#include "netlib/core/cpClock.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/layers/nwCHttpGetListener.h"

#include <cstdint>
#include <memory>
#include <string>

class IProgressFile;
class cpCMutex;

class CDownloadSession : public nwCHttpGetListener {
public:
    static constexpr int32_t kConnectTimeoutSeconds = 4;
    static constexpr int32_t kIdleSeconds = 4;
    // The largest body held in memory: well above any engine package.
    static constexpr int64_t kMaxBodyBytes = int64_t{256} << 20;
    // The largest update description: a few hundred bytes per engine file.
    static constexpr int64_t kMaxDescriptionBytes = int64_t{64} << 10;
    // The digest list of the largest body (the description's signature, 64
    // bytes, arrives in a digest list's place).
    static constexpr int64_t kMaxDigestListBytes =
        (kMaxBodyBytes / static_cast<int64_t>(kDigestPieceSize) + 1) * static_cast<int64_t>(ctCMD4::kDigestSize);

    CDownloadSession(IDownloadSessionEventListener* listener, cpCMutex* networkLock);
    virtual ~CDownloadSession();
    CDownloadSession(const CDownloadSession&) = delete;
    CDownloadSession& operator=(const CDownloadSession&) = delete;

    void Start();
    void Disconnect();

    void SetRecord(IProgressFile* record) { m_record = record; }
    IProgressFile* Record() const { return m_record; }
    bool IsBusy() const { return m_busy; }
    int Kind() const { return m_kind; }
    const std::string& TransferUrl() const { return m_url; }

    void OnConnected(int32_t cookie) override;
    void OnResponseHeader(int32_t cookie) override;
    int32_t OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length) override;
    void OnReceiveComplete(int32_t cookie) override;
    void OnClosed(int32_t cookie) override;
    void OnConnectTimeout(int32_t cookie) override;
    void OnRecvTimeout(int32_t cookie) override;
    void OnHostUnreach(int32_t cookie) override;

private:
    bool Connect();
    // Lets go of the connection and tells the listener; the listener may
    // destroy the session inside, so nothing may follow a call to it.
    void Fail(int code);

    IDownloadSessionEventListener* m_listener;
    vqSmartPtr m_networkLock;
    vqSmartPtr m_connection;
    std::string m_url;
    std::unique_ptr<unsigned char[]> m_body;
    int64_t m_received = 0;
    int64_t m_contentLength = 0;
    bool m_busy = false;
    IProgressFile* m_record = nullptr;
    int m_kind = 0;
    cpTIMEOFDAY m_connectStart{};
};
