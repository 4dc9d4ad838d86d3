#pragma once
// Makes the data of part files durable (fdatasync) on a thread of its own:
// a control file may count only bytes that a crash of the machine would not
// take back, and waiting for the disk on the event loop would stop every
// transfer for as long as the disk needs. Requests are handled in the order
// given, one at a time.
//
// Contract:
// - Submit, Take and Fd are called from one thread (the event loop); the
//   flusher's thread touches only its queues and the descriptors handed to it.
// - Submit takes over the descriptor (a duplicate of the part file's, so the
//   loop may close its own meanwhile) and closes it once flushed.
// - Every request gets exactly one result: error 0 when every byte written
//   through any descriptor of the file before Submit is on disk, else the
//   errno of the failed flush.
// - Fd is readable while results wait; Take drains them.
// - The destructor stops the thread after the request in hand; requests not
//   yet handled are dropped and their descriptors closed.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class CFileFlusher {
public:
    struct Result {
        uint64_t id = 0;
        int error = 0;
    };

    CFileFlusher();
    ~CFileFlusher();
    CFileFlusher(const CFileFlusher&) = delete;
    CFileFlusher& operator=(const CFileFlusher&) = delete;

    // False when the thread or its descriptor could not be made.
    bool Ready() const { return m_wake >= 0 && m_thread.joinable(); }
    int Fd() const { return m_wake; }
    void Submit(uint64_t id, int fd);
    std::vector<Result> Take();

private:
    struct Request {
        uint64_t id;
        int fd;
    };
    void Work();

    int m_wake = -1;
    std::mutex m_mutex;
    std::condition_variable m_wanted;
    std::deque<Request> m_requests;
    std::vector<Result> m_results;
    bool m_stopping = false;
    std::thread m_thread;
};
