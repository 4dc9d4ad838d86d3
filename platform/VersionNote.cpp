#include "platform/VersionNote.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Native layouts only: a note written by our build for this machine.
#if UINTPTR_MAX == 0xffffffffffffffffu
using Ehdr = Elf64_Ehdr;
using Shdr = Elf64_Shdr;
using Phdr = Elf64_Phdr;
constexpr unsigned char kClass = ELFCLASS64;
#else
using Ehdr = Elf32_Ehdr;
using Shdr = Elf32_Shdr;
using Phdr = Elf32_Phdr;
constexpr unsigned char kClass = ELFCLASS32;
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kData = ELFDATA2LSB;
#else
constexpr unsigned char kData = ELFDATA2MSB;
#endif

// A note area larger than this is not one of ours.
constexpr uint64_t kMaxNoteArea = 1 << 20;
// More headers than this is a damaged or hostile file.
constexpr unsigned kMaxHeaders = 4096;

class File {
public:
    explicit File(const std::string& path) : m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat st;
        if (m_fd >= 0 && fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode)) m_size = static_cast<uint64_t>(st.st_size);
    }
    ~File()
    {
        if (m_fd >= 0) close(m_fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Reads exactly size bytes at offset, all inside the file.
    bool Read(uint64_t offset, void* buffer, uint64_t size) const
    {
        if (offset > m_size || size > m_size - offset) return false;
        auto* out = static_cast<char*>(buffer);
        while (size > 0) {
            ssize_t got = pread(m_fd, out, size, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            out += got;
            offset += static_cast<uint64_t>(got);
            size -= static_cast<uint64_t>(got);
        }
        return true;
    }

private:
    int m_fd;
    uint64_t m_size = 0;
};

uint64_t Align4(uint64_t value)
{
    return (value + 3) & ~uint64_t{3};
}

// Walks the notes of one note area; true with the version when ours is there.
bool FindInNotes(const File& file, uint64_t offset, uint64_t size, std::string* version)
{
    if (size == 0 || size > kMaxNoteArea) return false;
    std::vector<unsigned char> area(size);
    if (!file.Read(offset, area.data(), size)) return false;
    const size_t ownerSize = strlen(kVersionNoteOwner) + 1;
    uint64_t at = 0;
    while (size - at >= 12) {
        uint32_t header[3];
        memcpy(header, area.data() + at, sizeof header);
        const uint64_t nameSize = header[0];
        const uint64_t descSize = header[1];
        const uint64_t nameAt = at + 12;
        if (Align4(nameSize) > size - nameAt) return false;
        const uint64_t descAt = nameAt + Align4(nameSize);
        if (Align4(descSize) > size - descAt) return false;
        if (header[2] == kVersionNoteType && nameSize == ownerSize &&
            memcmp(area.data() + nameAt, kVersionNoteOwner, ownerSize) == 0) {
            const char* text = reinterpret_cast<const char*>(area.data() + descAt);
            const size_t length = strnlen(text, descSize);
            if (length == descSize || length > kVersionNoteMaxLength) return false;
            *version = std::string(text, length);
            return true;
        }
        at = descAt + Align4(descSize);
    }
    return false;
}

template <typename Header>
bool ReadHeaders(const File& file, uint64_t offset, unsigned count, unsigned entrySize, std::vector<Header>* headers)
{
    if (count == 0 || count > kMaxHeaders || entrySize < sizeof(Header)) return false;
    headers->resize(count);
    for (unsigned i = 0; i < count; ++i) {
        if (!file.Read(offset + uint64_t{i} * entrySize, &(*headers)[i], sizeof(Header))) return false;
    }
    return true;
}

} // namespace

std::string ReadVersionNote(const std::string& path)
{
    File file(path);
    Ehdr header;
    if (!file.Read(0, &header, sizeof header)) return std::string();
    if (memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != kClass ||
        header.e_ident[EI_DATA] != kData || header.e_ident[EI_VERSION] != EV_CURRENT)
        return std::string();

    std::string version;
    // Section headers first; a file stripped of them still has its segments.
    std::vector<Shdr> sections;
    if (ReadHeaders(file, header.e_shoff, header.e_shnum, header.e_shentsize, &sections)) {
        for (const Shdr& section : sections) {
            if (section.sh_type == SHT_NOTE && FindInNotes(file, section.sh_offset, section.sh_size, &version))
                return version;
        }
    }
    std::vector<Phdr> segments;
    if (ReadHeaders(file, header.e_phoff, header.e_phnum, header.e_phentsize, &segments)) {
        for (const Phdr& segment : segments) {
            if (segment.p_type == PT_NOTE && FindInNotes(file, segment.p_offset, segment.p_filesz, &version))
                return version;
        }
    }
    return std::string();
}
