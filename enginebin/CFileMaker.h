#pragma once
// Makes part files on a thread of its own: creating a file (and reserving
// its length) can take the file system a millisecond and more, which the
// event loop would otherwise spend not receiving. Requests are handled in
// the order given, one at a time.
//
// Contract:
// - Submit, Take and Fd are called from one thread (the event loop); the
//   maker's thread touches only its queues and the file system.
// - Every request gets exactly one result: an open descriptor (the caller's
//   from Take on) or -1 with the errno of the step that failed (nothing left
//   open; a fresh file that could not be reserved stays on disk for the
//   caller to remove).
// - Fd is readable while results wait; Take drains them.
// - The destructor stops the thread after the request in hand; results not
//   taken are closed, and their fresh files removed (nothing was written).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CFileMaker {
public:
    struct Request {
        uint64_t id = 0;
        std::string path;
        int64_t size = -1; // reserved when fresh and positive
        bool fresh = true; // truncate (a new download) or keep (a resumed one)
    };
    struct Result {
        Request request;
        int fd = -1;
        int error = 0;
    };

    CFileMaker();
    ~CFileMaker();
    CFileMaker(const CFileMaker&) = delete;
    CFileMaker& operator=(const CFileMaker&) = delete;

    // False when the thread or its descriptor could not be made.
    bool Ready() const { return m_wake >= 0 && m_thread.joinable(); }
    int Fd() const { return m_wake; }
    void Submit(Request request);
    std::vector<Result> Take();

    // Opens (creating, and truncating when fresh) and reserves the length of
    // a fresh file; where the file system cannot reserve, the file is just
    // extended. -1 with *error set on failure.
    static int MakePartFile(const std::string& path, int64_t size, bool fresh, int* error);

private:
    void Work();

    int m_wake = -1;
    std::mutex m_mutex;
    std::condition_variable m_wanted;
    std::deque<Request> m_requests;
    std::vector<Result> m_results;
    bool m_stopping = false;
    std::thread m_thread;
};
