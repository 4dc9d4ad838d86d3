#pragma once
// What a download session of the engine update tells its owner.
//
// Contract:
// - Every call comes on the service thread with the network lock held, from
//   inside the session's own HTTP events or from inside Start.
// - Per start: OnSessionConnected once the connection is up; for file data
//   OnSessionBegin with the announced size and OnSessionProgress with the
//   bytes held so far after each arrival; then exactly one of OnSessionDone
//   (the body went to the record) or OnSessionError. After either the
//   session has let go of its connection.
// - Inside OnSessionDone and OnSessionError the owner may destroy the
//   session (and start others); the session touches nothing of itself after
//   those calls. Inside the other calls it must not destroy it.
// - The owner owns the session; the session does not own the owner.

#include <cstdint>
#include <string>

class CDownloadSession;

// Why a transfer failed (OnSessionError).
enum DownloadSessionError {
    // The connect did not complete within its time-out.
    SESSION_ERROR_CONNECT_TIMEOUT = 3,
    // A status other than 200, no positive Content-Length, or one above the
    // session's bound.
    SESSION_ERROR_BAD_ANSWER = 4,
    SESSION_ERROR_RECEIVE_TIMEOUT = 5,
    // The connection closed before the whole body arrived.
    SESSION_ERROR_CLOSED = 6,
    // The host is unreachable or refused the connection, or the URL names
    // nothing that can be reached.
    SESSION_ERROR_UNREACHABLE = 7,
};

// A transfer that ended with its body handed to the record.
struct SessionResult {
    std::string url;
    int kind = 0; // IProgressFile::TransferKind
    int code = 0; // the record's Receive answer
};

class IDownloadSessionEventListener {
public:
    virtual void OnSessionConnected(CDownloadSession* session) = 0;
    virtual void OnSessionDone(CDownloadSession* session, const SessionResult& result) = 0;
    virtual void OnSessionError(CDownloadSession* session, int code) = 0;
    virtual void OnSessionBegin(CDownloadSession* session, const char* url, int64_t size) = 0;
    virtual void OnSessionProgress(CDownloadSession* session, const char* url, int64_t bytes) = 0;

protected:
    ~IDownloadSessionEventListener() = default;
};
