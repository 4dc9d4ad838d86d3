#include "platform/COutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

COutputFile::~COutputFile()
{
    Discard();
}

bool COutputFile::Open(const std::string& path)
{
    Discard();
    m_error = 0;
    // A link at the name is not followed: in a folder others can write, it
    // could lead the download into any file of ours.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        m_error = errno ? errno : EISDIR;
        close(fd);
        return false;
    }
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
        m_error = errno;
        close(fd);
        return false;
    }
    if (!m_buffer) m_buffer.reset(new unsigned char[kBufferSize]);
    m_fd = fd;
    m_path = path;
    m_length = end;
    m_used = 0;
    return true;
}

COutputFile::LockResult COutputFile::OpenLocked(const std::string& path)
{
    // The name may change hands between our open and our lock (its holder
    // renames it when done): a lock on a file no longer under that name would
    // let us write into someone's finished file, so try again on the new one.
    for (int tries = 0; tries < 3; ++tries) {
        if (!Open(path)) return LockResult::kFailed;
        if (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            m_error = errno;
            Discard();
            return m_error == EWOULDBLOCK ? LockResult::kBusy : LockResult::kFailed;
        }
        struct stat opened;
        struct stat named;
        if (fstat(m_fd, &opened) == 0 && stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino) {
            // What was there before the lock may have grown since Open read it.
            const off_t end = lseek(m_fd, 0, SEEK_END);
            if (end < 0) {
                m_error = errno;
                Discard();
                return LockResult::kFailed;
            }
            m_length = end;
            return LockResult::kOpened;
        }
        Discard();
    }
    m_error = EWOULDBLOCK;
    return LockResult::kBusy;
}

bool COutputFile::CommitAs(const std::string& path)
{
    if (m_fd < 0) return false;
    bool ok = Flush();
    // Renamed while still locked, so no one can take the old name's file
    // between the rename and the close.
    if (ok && rename(m_path.c_str(), path.c_str()) != 0) {
        m_error = errno;
        ok = false;
    }
    if (close(m_fd) != 0 && ok) {
        m_error = errno;
        ok = false;
    }
    m_fd = -1;
    m_used = 0;
    return ok;
}

bool COutputFile::IsCharacterDevice(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool COutputFile::WriteAll(const unsigned char* data, size_t length)
{
    while (length > 0) {
        const ssize_t written = write(m_fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            m_error = errno;
            return false;
        }
        if (written == 0) {
            m_error = ENOSPC;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool COutputFile::Flush()
{
    if (m_used == 0) return true;
    if (!WriteAll(m_buffer.get(), m_used)) return false;
    m_used = 0;
    return true;
}

bool COutputFile::Write(const void* data, size_t length)
{
    if (m_fd < 0) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (m_used + length > kBufferSize && !Flush()) return false;
    if (length >= kBufferSize) {
        // Large blocks go out as they are: copying them through the buffer
        // would only add a copy.
        if (!WriteAll(bytes, length)) return false;
    } else {
        memcpy(m_buffer.get() + m_used, bytes, length);
        m_used += length;
    }
    m_length += static_cast<int64_t>(length);
    return true;
}

bool COutputFile::Truncate()
{
    if (m_fd < 0) return false;
    m_used = 0;
    if (ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0) {
        m_error = errno;
        return false;
    }
    m_length = 0;
    return true;
}

bool COutputFile::Close()
{
    if (m_fd < 0) return true;
    bool ok = Flush();
    if (close(m_fd) != 0 && ok) {
        m_error = errno;
        ok = false;
    }
    m_fd = -1;
    m_used = 0;
    return ok;
}

void COutputFile::Discard()
{
    if (m_fd < 0) return;
    close(m_fd);
    m_fd = -1;
    m_used = 0;
}
