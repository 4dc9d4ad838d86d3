#pragma once
// The plain transfer session: downloads the files of one job one after
// another over HTTP or HTTPS into their folders, trying each file's
// alternative URLs in order, retrying and following redirects within fixed
// bounds, throttled by the job's mode, and reporting to the plain downloader
// (IPlatFormSessionEventListener.h says when).
//
// A file is called done only when it is the server's file, byte for byte as
// far as lengths and validators can tell:
// - It is written as "NAME.part" beside its final name, under an advisory
//   lock (a second download of the same file refuses it and leaves it
//   alone), and renamed to NAME only once it holds exactly its total length:
//   the Content-Length of a 200, or the total of a 206's Content-Range. A
//   file already under the final name is replaced, never trusted.
// - A part left by an earlier run is resumed only when its record
//   (CPartFileRecord.h) names the same URL entry, total and validator, and
//   then with If-Range, so a changed file comes back whole (200) and starts
//   over. Within a run, a retry after a cut resumes from what was written,
//   with If-Range when the server gave a validator.
// - A 206 that covers only part of the asked range is followed by a request
//   for the rest. A missing, unusable or contradictory length, a length or
//   total other than the size the job holds (given, or found by its size
//   check; should every attempt say so, the failure names both sizes), a 206
//   from another offset or of another total, a 416 whose total is not the
//   part's length: each is a failed attempt, never a finished file.
// - A chunked answer is read through its framing: its length is the range
//   it covers (a 206) or the size the job holds (a 200), and only its last
//   chunk ends it; a body cut or broken anywhere before is a failed attempt,
//   one longer than its length too. Other transfer codings are refused.
// - Once a file is whole, what the engine kept of it (its part and control
//   files, left when it gave the file up) is removed.
// - A character device named as the output (/dev/null) is written in place.
//
// Bounds, so that a transfer that cannot succeed ends with OnTransferFailed
// instead of running for ever:
// - kAttemptsPerUrl failed attempts per URL (a refused or timed-out connect,
//   a connection lost before the body was complete, an answer that is
//   retried); then the next alternative. A retry of the same URL waits 1, 2,
//   4... seconds, or what the server's Retry-After asks.
// - A file goes without a body byte kMaxSilenceSeconds at most, over all
//   its alternatives and attempts; then it has failed. A Retry-After longer
//   than that gives the alternative up at once, and a pause that would end
//   past the bound is not waited out.
// - kMaxRedirects redirects per alternative; a longer chain gives up that
//   alternative. A redirect starts the attempts of its target anew.
// - A connect that does not complete, or a connection that brings no data,
//   within kTimeoutSeconds, and a transfer slower than kFloorBytes over
//   kFloorWindowMs, count as failed attempts.
//
// The work is one state machine: every network event and timer expiry sets
// the next state and runs DoLoop, which reads top-down.
//
// Contract: used on the service thread with the network lock held, by the
// plain downloader, which owns it. The listener may destroy the session from
// inside any of its calls. Destruction detaches from the connection, closes
// it (handing it to the deferred-release collector) and closes the output
// file after writing what is buffered; a part that can be resumed stays with
// its record, any other is deleted.

#include "service/TransferFloor.h"
#include "netlib/core/vqCLifeToken.h"
#include "netlib/core/vqCString.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/http/nwCChunkedDecoder.h"
#include "netlib/layers/nwCHttpGetListener.h"
#include "platform/COutputFile.h"
#include "service/CJob.h"
#include "service/IPlatFormSessionEventListener.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class vqIHttpClientExLayer;
class vqIQoSContext;

class CPlatformSession : public nwCHttpGetListener {
public:
    static constexpr int kAttemptsPerUrl = 3;
    static constexpr int kMaxRedirects = 10;
    static constexpr int32_t kTimeoutSeconds = 3;
    // A file goes without a body byte from any of its alternatives at most
    // this long; a server that asks for a longer pause is not waited for.
    static constexpr int kMaxSilenceSeconds = 30;
    // The slowest transfer that is not a stall: kFloorBytes in kFloorWindowMs.
    static constexpr int64_t kFloorBytes = kTransferFloorBytes;
    static constexpr int64_t kFloorWindowMs = kTransferFloorWindowMs;
    static constexpr uint32_t kTickMs = 1000;
    // Receive budget per scheduler period by the job's mode.
    static constexpr int32_t kBudgetFast = 104857600; // mode other than 0
    static constexpr int32_t kBudgetSlow = 393216;    // mode 0

    CPlatformSession();
    virtual ~CPlatformSession();
    CPlatformSession(const CPlatformSession&) = delete;
    CPlatformSession& operator=(const CPlatformSession&) = delete;

    void SetListener(IPlatFormSessionEventListener* listener, void* context);
    void SetMode(int mode) { m_mode = mode; }
    // The sizes the job's size check found, one per file in the job's order
    // (before Begin): an answer of another length is a failed attempt.
    void SetKnownSizes(std::vector<int64_t> sizes) { m_knownSizes = std::move(sizes); }
    // Copies the job's files and starts with the first.
    void Begin(const std::vector<std::unique_ptr<CJobFile>>& files);

    // Bytes of the job on disk: what the opened files already held plus the
    // bytes written since.
    long long GetBytesPresent() const { return m_bytesPresent; }
    // The part of GetBytesPresent that earlier runs left (resumed parts): it
    // was present before this session began and is no speed of this one.
    long long GetBytesResumed() const { return m_bytesResumed; }
    // The file being transferred (its size is known once the server has
    // answered), or null.
    const CJobFile* GetCurrentFile() const;
    // The files that received body bytes during this session: their count
    // and, if entries is not null, one report entry of kAgentEntrySize bytes
    // each (service identifier, URL entry cut at 255 bytes, bytes received,
    // 1), appended.
    int32_t ListTransferredFiles(std::vector<unsigned char>* entries) const;

    void OnResponseHeader(int32_t cookie) override;
    int32_t OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length) override;
    void OnReceiveComplete(int32_t cookie) override;
    void OnClosed(int32_t cookie) override;
    void OnConnectTimeout(int32_t cookie) override;
    void OnRecvTimeout(int32_t cookie) override;

private:
    enum class State {
        kNone,
        kOpenFile,          // lock NAME.part; decide where it resumes from
        kConnect,           // one request for the rest of the file
        kReadHeader,        // waiting for the answer's header (pending)
        kReadHeaderComplete,// judge the answer
        kReadBody,          // waiting for body bytes (pending)
        kReadBodyComplete,  // the answer's body is in: done, or ask for the rest
        kRedirect,
        kAttemptFailed,     // retry after a pause, next alternative, or give up
        kBackOff,           // waiting for the retry timer (pending)
        kFinishFile,        // exact length on disk: rename, report, next file
        kGiveUp,            // report the failure; the session is over
        kDone,
    };
    // How a failed attempt counts.
    enum class Failure {
        kRetry,            // the same URL again, after a pause
        kRetryNow,         // the same URL again at once (nothing reached the server)
        kGiveUpAlternative // the next alternative
    };
    struct FileCopy {
        CJobFile file;
        // Body bytes written during this session over every connection (the
        // file's bytesDone counts only since its last request).
        long long transferred = 0;
        // Of the part's length when it was opened, what an earlier run left.
        long long resumed = 0;
        // The size the job knew (the size check's), or -1.
        long long knownSize = -1;
    };

    void DoLoop();
    // Runs the loop from state next, unless the loop is running already (an
    // event raised from inside it), which then picks next up itself.
    void Resume(State next);
    State DoOpenFile();
    State DoConnect();
    State DoReadHeaderComplete();
    State DoReadBodyComplete();
    State DoRedirect();
    State DoAttemptFailed();
    State DoFinishFile();
    State DoGiveUp();
    // The file has gone without data as long as it may: it has failed.
    State SilenceOver();

    // The attempt failed; how it counts, and why (logged with the URL).
    // Always answers kAttemptFailed.
    State Fail(Failure failure, const char* reason, int retryAfterSeconds = -1);
    // The reason a failed attempt is logged under, said for a person (with
    // the connection's or the answer's details while they are there).
    std::string Explain(const std::string& reason) const;
    // The answer's length is not the size the job holds: a failed attempt,
    // whose cause names both sizes should the file fail for it.
    State FailOtherSize(int64_t answered);
    void SelectFile(size_t index);
    bool NextAlternative();
    void DropConnection();
    // Empties the part and forgets what was counted for it.
    bool RestartFromZero();
    // Writes the part's record once its total and validator are known.
    void SaveRecord() const;
    // Writes body bytes of the current answer (never past its end: false, and
    // nothing written, for bytes beyond it). On a failed write the session
    // has ended and may be gone: *ended is set.
    bool TakeBody(const unsigned char* data, int64_t length, bool* ended);
    // Reads a chunked answer's framing off the bytes and writes its body.
    void TakeChunked(const unsigned char* data, int32_t length);
    // Closes the output; keeps a resumable part, deletes any other.
    void CloseOutput();
    // Notice DL_NOTICE_DISK_FULL, then OnTransferFailed.
    void WriteFailed();
    std::string PartPath() const { return m_currentPath + m_partSuffix; }
    vqIHttpClientExLayer* Layer() const;
    std::string Header(const char* name) const;
    void StartTimer(uint32_t periodMs);
    void StopTimer();
    static void OnTimer(void* self);
    // Whether a request is under way, so that a failed connection is a
    // failed attempt (and not a late event of one already judged).
    bool Waiting() const;
    void OnTick();

    State m_next = State::kNone;
    State m_state = State::kNone;
    bool m_inLoop = false;
    FileCopy* m_current = nullptr;
    vqSmartPtr m_connection;
    vqSmartPtr m_timer;
    int m_attempts = 0;
    int m_redirects = 0;
    size_t m_fileIndex = 0;
    int m_mode = 1;
    long long m_bytesPresent = 0;
    long long m_bytesResumed = 0;
    COutputFile m_output;
    size_t m_alternativeIndex = 0;
    std::string m_currentUrl;
    // The final path; the output is this plus m_partSuffix ("" for a device).
    std::string m_currentPath;
    std::string m_partSuffix;
    // The current file's total length once an answer (or a matching record)
    // has said it; -1 before.
    int64_t m_total = -1;
    // The validator the current part was written under ("" for none).
    std::string m_validator;
    // Where the current answer's body ends on disk (a 206 may stop short).
    int64_t m_answerEnd = -1;
    // The current answer comes in the chunked coding, read by m_chunks.
    bool m_chunked = false;
    nwCChunkedDecoder m_chunks;
    int m_retryAfter = -1;
    std::string m_failureText;
    // When the current file last had a body byte written, or was begun.
    uint64_t m_lastDataMs = 0;
    // The slow-transfer window: when it began and the bytes written since.
    uint64_t m_windowStartMs = 0;
    int64_t m_windowBytes = 0;
    std::vector<FileCopy> m_copies;
    std::vector<int64_t> m_knownSizes;
    std::vector<std::string> m_alternatives;
    IPlatFormSessionEventListener* m_listener = nullptr;
    void* m_context = nullptr;
    // A method that called the listener reads its watch before touching the
    // session again.
    vqCLifeToken m_life;
};
