#include "engine/CGZipExtractAction.h"

#include "engine/ArchiveEntryName.h"
#include "platform/CUnpackFolder.h"

#include <unzip.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr size_t kReadChunk = 256 * 1024;
constexpr size_t kMaxLinkTarget = 4096;
constexpr uLong kMaxNameLength = 65535; // a zip name length field has 16 bits
// Unix file modes as zip stores them in the upper half of the external
// attributes when the entry was made on Unix.
constexpr int kMadeOnUnix = 3;
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixDirectory = 0040000;
constexpr uint32_t kUnixLink = 0120000;
constexpr uint32_t kUnixOwnerExecute = 0100;
constexpr uLong kDosDirectory = 0x10;
constexpr uLong kFlagEncrypted = 1;

// The archive in memory, read through minizip's I/O table.
struct MemoryStream {
    const unsigned char* data;
    uint64_t size;
    uint64_t position;
};

voidpf ZCALLBACK MemoryOpen(voidpf opaque, const void*, int mode)
{
    return (mode & ZLIB_FILEFUNC_MODE_READ) ? opaque : nullptr;
}

uLong ZCALLBACK MemoryRead(voidpf, voidpf stream, void* buffer, uLong size)
{
    MemoryStream* memory = static_cast<MemoryStream*>(stream);
    const uint64_t left = memory->size - memory->position;
    const uLong count = size < left ? size : static_cast<uLong>(left);
    memcpy(buffer, memory->data + memory->position, count);
    memory->position += count;
    return count;
}

uLong ZCALLBACK MemoryWrite(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK MemoryTell(voidpf, voidpf stream)
{
    return static_cast<MemoryStream*>(stream)->position;
}

long ZCALLBACK MemorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    MemoryStream* memory = static_cast<MemoryStream*>(stream);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = memory->position;
    else if (origin == ZLIB_FILEFUNC_SEEK_END) base = memory->size;
    else if (origin != ZLIB_FILEFUNC_SEEK_SET) return -1;
    if (offset > memory->size || base > memory->size - offset) return -1;
    memory->position = base + offset;
    return 0;
}

int ZCALLBACK MemoryClose(voidpf, voidpf)
{
    return 0;
}

int ZCALLBACK MemoryError(voidpf, voidpf)
{
    return 0;
}

time_t EntryTime(const unz_file_info64& info)
{
    std::tm tm = {};
    tm.tm_sec = static_cast<int>(info.tmu_date.tm_sec);
    tm.tm_min = static_cast<int>(info.tmu_date.tm_min);
    tm.tm_hour = static_cast<int>(info.tmu_date.tm_hour);
    tm.tm_mday = static_cast<int>(info.tmu_date.tm_mday);
    tm.tm_mon = static_cast<int>(info.tmu_date.tm_mon);
    tm.tm_year = static_cast<int>(info.tmu_date.tm_year) - 1900;
    tm.tm_isdst = -1;
    const time_t time = mktime(&tm); // zip times are local times
    return time > 0 ? time : 0;
}

// Reads the current entry's data (whole, CRC checked) into sink.
template <typename Sink>
bool ReadEntry(unzFile zip, Sink&& sink)
{
    if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
    std::vector<unsigned char> chunk(kReadChunk);
    bool ok = true;
    for (;;) {
        const int read = unzReadCurrentFile(zip, chunk.data(), static_cast<unsigned>(chunk.size()));
        if (read == 0) break;
        if (read < 0 || !sink(chunk.data(), static_cast<size_t>(read))) {
            ok = false;
            break;
        }
    }
    // Reports a CRC mismatch once the whole entry has been read.
    const int closed = unzCloseCurrentFile(zip);
    return ok && closed == UNZ_OK;
}

bool UnpackEntry(unzFile zip, CUnpackFolder& folder)
{
    unz_file_info64 info;
    std::vector<char> name(kMaxNameLength + 1);
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), kMaxNameLength + 1, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    if (info.flag & kFlagEncrypted) return false;
    const std::string entryName(name.data());
    std::vector<std::string> path;
    if (!SplitArchiveEntryName(entryName, path)) return false;
    const uint32_t unixMode = (info.version >> 8) == kMadeOnUnix ? static_cast<uint32_t>(info.external_fa >> 16) : 0;
    const char last = entryName.back();
    const bool directory = last == '/' || last == '\\' || (unixMode & kUnixTypeMask) == kUnixDirectory ||
        (info.external_fa & kDosDirectory);
    if (directory) return folder.AddDirectory(path);
    if ((unixMode & kUnixTypeMask) == kUnixLink) {
        std::string target;
        const bool read = ReadEntry(zip, [&](const unsigned char* bytes, size_t length) {
            target.append(reinterpret_cast<const char*>(bytes), length);
            return target.size() <= kMaxLinkTarget;
        });
        return read && IsSafeLinkTarget(target) && folder.AddLink(path, target);
    }
    if (!folder.BeginFile(path)) return false;
    const bool read = ReadEntry(zip, [&](const unsigned char* bytes, size_t length) {
        return folder.WriteFile(bytes, length);
    });
    return folder.EndFile((unixMode & kUnixOwnerExecute) != 0, EntryTime(info)) && read;
}

} // namespace

int CGZipExtractAction::Extract(const void* data, uint32_t sizeLow, int32_t sizeHigh, const char* folder)
{
    if (BadArguments(data, sizeLow, sizeHigh, folder)) return kBadArguments;
    MemoryStream memory{static_cast<const unsigned char*>(data), static_cast<uint64_t>(JoinSize(sizeLow, sizeHigh)), 0};
    zlib_filefunc64_def io = {};
    io.zopen64_file = MemoryOpen;
    io.zread_file = MemoryRead;
    io.zwrite_file = MemoryWrite;
    io.ztell64_file = MemoryTell;
    io.zseek64_file = MemorySeek;
    io.zclose_file = MemoryClose;
    io.zerror_file = MemoryError;
    io.opaque = &memory;
    unzFile zip = unzOpen2_64("memory", &io);
    if (!zip) return kZipFailed;

    CUnpackFolder target;
    unz_global_info64 global;
    bool ok = unzGetGlobalInfo64(zip, &global) == UNZ_OK && target.Begin(folder);
    for (ZPOS64_T i = 0; ok && i < global.number_entry; ++i) {
        ok = (i == 0 ? unzGoToFirstFile(zip) : unzGoToNextFile(zip)) == UNZ_OK && UnpackEntry(zip, target);
    }
    unzClose(zip);
    return ok && target.Commit() ? kDone : kZipFailed;
}
