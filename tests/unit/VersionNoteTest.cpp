// Reading the version note of an executable without running it: a program
// of ours built with a note, a system program without one, and damaged
// copies of ours (every truncation near the headers, forged sizes).

#include "platform/VersionNote.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class VersionNoteTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zdr-note-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        std::ifstream in(ZDR_TEST_CHILD_PATH, std::ios::binary);
        m_program.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_GT(m_program.size(), sizeof(Elf64_Ehdr));
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = m_dir + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }
    // Offset of our note's header (namesz, descsz, type) in the program.
    size_t NoteAt() const
    {
        const std::string owner("\4\0\0\0", 4);
        for (size_t at = m_program.find(owner); at != std::string::npos; at = m_program.find(owner, at + 1)) {
            if (at + 16 <= m_program.size() && m_program.compare(at + 12, 4, std::string("ZDR\0", 4)) == 0 &&
                m_program[at + 8] == 1)
                return at;
        }
        return std::string::npos;
    }

    std::string m_dir;
    std::string m_program;
};

TEST_F(VersionNoteTest, OurProgramCarriesItsVersion)
{
    EXPECT_EQ(ReadVersionNote(ZDR_TEST_CHILD_PATH), "1.0.0.10");
    ASSERT_NE(NoteAt(), std::string::npos);
}

TEST_F(VersionNoteTest, FilesWithoutANoteReadEmpty)
{
    EXPECT_EQ(ReadVersionNote("/bin/true"), "");
    EXPECT_EQ(ReadVersionNote(m_dir + "/missing"), "");
    EXPECT_EQ(ReadVersionNote(m_dir), "");
    EXPECT_EQ(ReadVersionNote(""), "");
    EXPECT_EQ(ReadVersionNote(Write("empty", "")), "");
    EXPECT_EQ(ReadVersionNote(Write("script", "#!/bin/sh\necho 1.0.0.10\n")), "");
}

TEST_F(VersionNoteTest, StripKeepsTheNoteAndRemovingItEmptiesTheVersion)
{
    const std::string stripped = Write("stripped", m_program);
    ASSERT_EQ(std::system(("strip " + stripped).c_str()), 0);
    EXPECT_EQ(ReadVersionNote(stripped), "1.0.0.10");
    // Without section headers the segments still lead to the note.
    std::string noSections = m_program;
    auto* header = reinterpret_cast<Elf64_Ehdr*>(noSections.data());
    header->e_shoff = 0;
    header->e_shnum = 0;
    EXPECT_EQ(ReadVersionNote(Write("no-sections", noSections)), "1.0.0.10");
    const std::string removed = Write("removed", m_program);
    ASSERT_EQ(std::system(("objcopy --remove-section .note.zdr.version " + removed).c_str()), 0);
    EXPECT_EQ(ReadVersionNote(removed), "");
}

TEST_F(VersionNoteTest, EveryTruncationReadsEmptyOrTheVersion)
{
    // Every length over the section headers at the end and over the file
    // header, program headers and notes at the start, cut from one copy.
    const std::string path = Write("cut", m_program);
    const size_t size = m_program.size();
    const size_t head = std::min<size_t>(size, 4096);
    for (size_t length = size; length-- > 0;) {
        if (length < size - std::min<size_t>(size, 4096) && length >= head) length = head - 1;
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(length)), 0);
        const std::string version = ReadVersionNote(path);
        ASSERT_TRUE(version.empty() || version == "1.0.0.10") << length << ": " << version;
    }
}

TEST_F(VersionNoteTest, ForgedHeadersReadEmpty)
{
    const size_t note = NoteAt();
    ASSERT_NE(note, std::string::npos);
    auto forged = [&](const char* name, auto change) {
        std::string bytes = m_program;
        change(bytes);
        return ReadVersionNote(Write(name, bytes));
    };
    auto setWord = [](std::string& bytes, size_t at, uint32_t value) { memcpy(bytes.data() + at, &value, 4); };
    auto header = [](std::string& bytes) { return reinterpret_cast<Elf64_Ehdr*>(bytes.data()); };
    EXPECT_EQ(forged("descsz-huge", [&](std::string& b) { setWord(b, note + 4, 0xfffffff0u); }), "");
    EXPECT_EQ(forged("namesz-huge", [&](std::string& b) { setWord(b, note, 0xfffffffcu); }), "");
    // The text fills its whole descriptor: no NUL inside it.
    EXPECT_EQ(forged("no-nul", [&](std::string& b) { memset(b.data() + note + 16, 'x', 12); }), "");
    EXPECT_EQ(forged("other-class", [&](std::string& b) { b[EI_CLASS] = ELFCLASS32; }), "");
    EXPECT_EQ(forged("other-order", [&](std::string& b) { b[EI_DATA] = ELFDATA2MSB; }), "");
    EXPECT_EQ(forged("bad-magic", [&](std::string& b) { b[1] = 'X'; }), "");
    EXPECT_EQ(forged("headers-everywhere",
                     [&](std::string& b) {
                         header(b)->e_shoff = ~0ull - 8;
                         header(b)->e_phoff = ~0ull - 8;
                     }),
              "");
    EXPECT_EQ(forged("too-many-headers",
                     [&](std::string& b) {
                         header(b)->e_shnum = 0xffff;
                         header(b)->e_phnum = 0xffff;
                     }),
              "");
    EXPECT_EQ(forged("tiny-entries",
                     [&](std::string& b) {
                         header(b)->e_shentsize = 4;
                         header(b)->e_phentsize = 4;
                     }),
              "");
}

} // namespace
