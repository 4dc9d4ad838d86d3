#include "engine/C7ZipExtractAction.h"

#include "engine/ArchiveEntryName.h"
#include "platform/CUnpackFolder.h"
#include "platform/CUtf8ThreadLocale.h"

#include <archive.h>
#include <archive_entry.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kReadChunk = 256 * 1024;
constexpr unsigned kOwnerExecute = 0100;

bool UnpackEntry(archive* reader, archive_entry* entry, CUnpackFolder& folder)
{
    const char* name = archive_entry_pathname(entry);
    std::vector<std::string> path;
    if (!name || !SplitArchiveEntryName(name, path)) return false;
    if (archive_entry_hardlink(entry)) return false;
    switch (archive_entry_filetype(entry)) {
    case AE_IFDIR:
        return folder.AddDirectory(path);
    case AE_IFLNK: {
        const char* target = archive_entry_symlink(entry);
        return target && IsSafeLinkTarget(target) && folder.AddLink(path, target);
    }
    case AE_IFREG:
        break;
    default:
        return false;
    }
    if (!folder.BeginFile(path)) return false;
    std::vector<unsigned char> chunk(kReadChunk);
    bool ok = true;
    for (;;) {
        // Any negative answer, a warning included (libarchive reports a CRC
        // mismatch as one), means the entry is not intact.
        const la_ssize_t read = archive_read_data(reader, chunk.data(), chunk.size());
        if (read == 0) break;
        if (read < 0 || !folder.WriteFile(chunk.data(), static_cast<size_t>(read))) {
            ok = false;
            break;
        }
    }
    const time_t mtime = archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : 0;
    return folder.EndFile((archive_entry_perm(entry) & kOwnerExecute) != 0, mtime) && ok;
}

} // namespace

int C7ZipExtractAction::Extract(const void* data, uint32_t sizeLow, int32_t sizeHigh, const char* folder)
{
    if (BadArguments(data, sizeLow, sizeHigh, folder)) return kBadArguments;
    // 7z stores names in UTF-16; libarchive converts them to the thread's
    // locale encoding, which must be UTF-8 for every name to come through
    // (without a UTF-8 locale only ASCII names do).
    const CUtf8ThreadLocale utf8;
    archive* reader = archive_read_new();
    if (!reader) return kSevenZipFailed;
    archive_read_support_format_7zip(reader);
    bool ok = archive_read_open_memory(reader, data, static_cast<size_t>(JoinSize(sizeLow, sizeHigh))) == ARCHIVE_OK;
    CUnpackFolder target;
    ok = ok && target.Begin(folder);
    while (ok) {
        archive_entry* entry = nullptr;
        const int next = archive_read_next_header(reader, &entry);
        if (next == ARCHIVE_EOF) break;
        // A warning here means a name or link that did not convert: such an
        // entry cannot be placed.
        ok = next == ARCHIVE_OK && UnpackEntry(reader, entry, target);
    }
    archive_read_free(reader);
    return ok && target.Commit() ? kDone : kSevenZipFailed;
}
