#pragma once
// Unpacks one archive held in memory into a folder.
//
// Contract: Extract is called once, on the caller's thread, and returns when
// the work is done; it never changes the process's current directory. The
// caller owns the data and the action; the action keeps nothing after
// Extract returns. The size is a signed 64-bit byte count given as two
// halves. The folder is a narrow string in the system code page and ends in
// '/'. Entry names are written as the archive stores them (zip: the stored
// bytes; 7z: UTF-8), with '\' read as a separator. An entry that would land
// outside the folder (absolute name, a ".." component, a path through a
// symbolic link, a link leading outside) fails the whole extraction.
// Extraction is all or nothing: on any failure the folder keeps what it had
// (see platform/CUnpackFolder.h).

#include <cstdint>

class IExtractAction {
public:
    enum Result {
        kDone = 0,
        // 7z: the archive could not be opened or an entry could not be
        // unpacked.
        kSevenZipFailed = 2,
        // No data, a size that is not positive, or an empty folder.
        kBadArguments = 3,
        // zip: the archive could not be opened or an entry could not be
        // unpacked.
        kZipFailed = 4,
    };

    virtual int Extract(const void* data, uint32_t sizeLow, int32_t sizeHigh, const char* folder) = 0;
    virtual ~IExtractAction() = default;

    static int64_t JoinSize(uint32_t sizeLow, int32_t sizeHigh)
    {
        return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(sizeHigh)) << 32 | sizeLow);
    }
    static bool BadArguments(const void* data, uint32_t sizeLow, int32_t sizeHigh, const char* folder)
    {
        return !data || JoinSize(sizeLow, sizeHigh) <= 0 || !folder || !*folder;
    }
};
