#pragma once
// A download's output file: opened without losing what an earlier transfer
// left in it, appended to through one buffer of kBufferSize bytes (so a
// transfer makes one write call per buffer, not one per network read), and
// flushed on Close.
//
// A file that is being downloaded can be held under an advisory lock
// (OpenLocked): a second process, or a second object in this one, that asks
// for the same file is told it is busy and leaves it alone. The lock lasts
// until the file is closed, committed or discarded.
//
// Contract: one file at a time; the buffer is allocated once, on the first
// Open, and kept for the object's life. A failed call leaves the system error
// in LastError; after a failed Write or Flush the file stays open and the
// caller decides (Discard drops what is buffered). Not thread-safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class COutputFile {
public:
    static constexpr size_t kBufferSize = 1024 * 1024;

    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Opens path for reading and writing, creating it when missing and
    // keeping its contents; writes go to its end. False (and nothing open)
    // when it cannot be opened or is not a regular file or device.
    bool Open(const std::string& path);
    enum class LockResult { kOpened, kBusy, kFailed };
    // As Open, and takes an exclusive advisory lock without waiting: kBusy
    // (nothing open, LastError EWOULDBLOCK) when someone else holds it.
    LockResult OpenLocked(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    // Writes what is buffered; the file stays open.
    bool Flush();
    // Flushes, gives the open file the name path (replacing whatever had that
    // name, atomically) and closes it. False (the file closed, its old name
    // kept) when any step failed.
    bool CommitAs(const std::string& path);
    // A character device (such as /dev/null) is written in place: it can be
    // neither renamed nor resumed.
    static bool IsCharacterDevice(const std::string& path);
    // The length the file will have once the buffer is flushed.
    int64_t Length() const { return m_length; }
    bool Write(const void* data, size_t length);
    // Empties the file, the buffer included.
    bool Truncate();
    // Flushes and closes; false when the flush or the close failed (the file
    // is closed either way).
    bool Close();
    // Closes without writing what is still buffered.
    void Discard();
    int LastError() const { return m_error; }

private:
    bool WriteAll(const unsigned char* data, size_t length);

    int m_fd = -1;
    std::string m_path;
    int m_error = 0;
    int64_t m_length = 0;
    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_used = 0;
};
