#pragma once
// The download engine: one event loop (epoll) for the clients on 127.0.0.1
// and for every transfer (libcurl's multi socket interface); no thread per
// transfer. Part files are created on a helper thread (CFileMaker).
//
// Contract:
// - Run blocks until Stop is asked (SIGTERM / SIGINT through the signal fd),
//   or the engine has been idle for idleExitSeconds (no client and no
//   running job). Before it returns every partial download's control file
//   is saved and every file closed.
// - A client of another user is closed at once, before anything is read.
// - Every job gets an acceptance or a rejection; an accepted job ends with a
//   job-finished message (value b non-zero when given up) unless the client
//   stops it or goes away first, in which case its control files are kept.
// - A file appears under its final name only once complete and closed.

#include "netlib/layers/CControlFile.h"
#include "enginebin/CFileFlusher.h"
#include "enginebin/CFileMaker.h"
#include "netlib/layers/nwCDNLocalCodec.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

typedef void CURLM;

class CEngine {
public:
    static constexpr int kIdleExitSeconds = 60;

    // listenFd: a listening socket on 127.0.0.1; signalFd: readable when the
    // engine must stop. Both are owned by the caller.
    CEngine(int listenFd, uint16_t port, int signalFd, int idleExitSeconds = kIdleExitSeconds);
    ~CEngine();
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    int Run();

    struct Client;
    struct Job;
    struct FileTask;
    struct Transfer;

private:
    void Accept();
    void ReadClient(Client* client);
    void FlushClient(Client* client);
    void CloseClient(Client* client);
    void Send(Client* client, uint16_t code, const nwCDNLocalCodec::Bytes& payload);
    static void OnFrame(const unsigned char* payload, uint32_t length, void* user);
    void HandleFrame(Client* client, uint16_t type, uint16_t code, const unsigned char* payload, uint32_t length);

    void SubmitJob(Client* client, nwLocalJob job);
    void Reject(Client* client, int32_t jobNumber, const std::string& reason);
    void AcceptJob(Job* job);
    void StartJob(Job* job);
    void AnswerResume(Job* job, bool resume);
    void StopJob(Job* job, bool saveState);
    void FinishJob(Job* job, int32_t valueB);
    void ReportProgress(Job* job, double now);
    void DiskFull(Job* job, const std::string& folder);

    bool OpenForTransfer(FileTask* file);
    bool OpenPart(FileTask* file, bool fresh);
    void LayOutSpans(FileTask* file);
    void RequestPart(FileTask* file);
    void TakeMadeFiles();
    bool PartInUse(const std::string& partPath) const;
    void Schedule(double now);
    void StartTransfer(FileTask* file, int piece, double now);
    void StartProbe(FileTask* file);
    void FinishTransfer(Transfer* transfer, int curlResult);
    void OnProbeDone(Transfer* transfer, int curlResult);
    // Accepts the job once none of its files is being probed.
    void AcceptOnceProbed(Job* job);
    void PieceFailed(FileTask* file, Transfer* transfer, bool permanent, long retryAfter, double now);
    void RestartFile(FileTask* file);
    void CompleteFile(FileTask* file);
    void FailFile(FileTask* file);
    void AbortTransfers(FileTask* file, Transfer* except);
    // The record of a running file's ranges; false when there is nothing to describe.
    static bool ControlOf(const FileTask* file, CControlFile* control);
    // Saves the control file at once, after flushing the bytes it counts.
    void SaveControl(FileTask* file);
    // Saves it once the flusher has made the bytes it counts durable.
    void StartFlush(FileTask* file);
    void TakeFlushed();
    // A record being flushed for the file is not saved any more.
    void ForgetFlush(FileTask* file);
    // Before the part file is emptied: no record may count its old bytes.
    void DropControl(FileTask* file);
    void CheckJobEnd(Job* job);
    void Tick(double now);
    void Widen(FileTask* file, double now);

    // libcurl's sockets and timer, on our epoll set (curl_multi_socket_action).
    static int OnSocket(void* easy, int socket, int what, void* user, void* socketData);
    static int OnTimer(CURLM* multi, long timeoutMs, void* user);
    void WatchClient(Client* client);
    // Whether what is held for all clients together stays within its bound.
    bool WithinClientBudget() const;

    static size_t OnHeader(char* data, size_t size, size_t count, void* user);
    static size_t OnBody(char* data, size_t size, size_t count, void* user);
    size_t Body(Transfer* transfer, const char* data, size_t length);
    bool WriteOut(Transfer* transfer);
    bool CheckResponse(Transfer* transfer);
    // Reserves a size learnt from an answer, only where the volume has room
    // for it; false with the transfer's writeErrno set otherwise.
    bool Reserve(Transfer* transfer, int64_t size);

    int m_listenFd;
    uint16_t m_port;
    int m_signalFd;
    int m_idleExitSeconds;
    int m_epoll = -1;
    CURLM* m_multi = nullptr;
    // When libcurl wants to be called for its timeouts (steady seconds); -1: never.
    double m_curlDue = -1;
    std::list<std::unique_ptr<Client>> m_clients;
    std::list<std::unique_ptr<Job>> m_jobs;
    std::list<std::unique_ptr<Transfer>> m_transfers;
    int32_t m_nextTask = 1;
    bool m_stop = false;
    double m_idleSince = 0;
    double m_lastTick = 0;
    bool m_online = true;
    // The user's "apply to all" answer for the rest of this run: -1 none yet.
    int m_resumeForAll = -1;
    // Part files are made on the maker's thread (without one, on the loop);
    // the files being made, by request number.
    std::unique_ptr<CFileMaker> m_maker;
    std::map<uint64_t, FileTask*> m_making;
    uint64_t m_nextMakeId = 1;
    // Part files' data is flushed on the flusher's thread (without one, on
    // the loop); the files whose record waits for a flush, by request number.
    std::unique_ptr<CFileFlusher> m_flusher;
    std::map<uint64_t, FileTask*> m_flushing;
    uint64_t m_nextFlushId = 1;
};
