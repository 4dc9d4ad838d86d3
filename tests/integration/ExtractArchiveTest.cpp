// Archive extraction with archives made by the real tools at test time (zip,
// 7z, Python's zipfile for entries no archiver would write): nested folders,
// an empty file, a 20 MiB file, a UTF-8 name, permissions, replacing files
// (also a running program), bad input, and hostile entries that try to land
// outside the destination. Extraction is all or nothing: after any failure
// the destination holds exactly what it held before.

#include "ArchiveTools.h"
#include "engine/C7ZipExtractAction.h"
#include "engine/CGZipExtractAction.h"
#include "engine/ExtractArchive.h"
#include "engine/IExtractAction.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <memory>
#include <thread>

using namespace archive_tools;

namespace {

struct Archiver {
    const char* name;
    int kind;
    int failure; // the action's failure code
};

const Archiver kZip{"zip", kArchiveZip, IExtractAction::kZipFailed};
const Archiver k7z{"7z", kArchive7z, IExtractAction::kSevenZipFailed};

std::unique_ptr<IExtractAction> ActionFor(const Archiver& archiver)
{
    if (archiver.kind == kArchiveZip) return std::make_unique<CGZipExtractAction>();
    return std::make_unique<C7ZipExtractAction>();
}

bool MakeArchive(const Archiver& archiver, const std::string& folder, const std::string& archive)
{
    return archiver.kind == kArchiveZip ? MakeZip(folder, archive) : Make7z(folder, archive);
}

int Extract(IExtractAction& action, const std::vector<unsigned char>& data, const std::string& folder)
{
    return action.Extract(data.data(), static_cast<uint32_t>(data.size()), 0, folder.c_str());
}

std::string CurrentDirectory()
{
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

class ExtractArchiveTest : public testing::TestWithParam<Archiver> {
protected:
    void SetUp() override
    {
        if (!HaveTool(GetParam().name)) GTEST_SKIP() << GetParam().name << " is not installed";
        ASSERT_FALSE(m_scratch.Path().empty());
    }

    std::string Source() const { return m_scratch.Path() + "source/"; }
    std::string Destination() const { return m_scratch.Path() + "destination/"; }
    std::string Archive() const { return m_scratch.Path() + "archive." + GetParam().name; }

    std::vector<unsigned char> ArchiveOf(const std::string& folder)
    {
        EXPECT_TRUE(MakeArchive(GetParam(), folder, Archive()));
        return ReadBytes(Archive());
    }

    ScratchFolder m_scratch;
};

} // namespace

TEST_P(ExtractArchiveTest, UnpacksATreeAsItWasPacked)
{
    WriteFile(Source() + "a/b/c/deep.txt", "deep");
    WriteFile(Source() + "a/sibling.txt", "sibling");
    WriteFile(Source() + "empty.bin", "");
    WriteFile(Source() + "big.bin", RandomText(20 * 1024 * 1024, 20));
    WriteFile(Source() + "\xE6\x95\xB8\xE6\x93\x9A/\xE6\xAA\x94\xE6\xA1\x88.txt", "utf-8 name");
    std::filesystem::create_directories(Source() + "emptydir");
    WriteFile(Source() + "run.sh", "#!/bin/sh\necho run\n");
    chmod((Source() + "run.sh").c_str(), 0755);
    WriteFile(Source() + "special.bin", "mode bits");
    ASSERT_EQ(chmod((Source() + "special.bin").c_str(), 06777), 0);
    const std::vector<unsigned char> archive = ArchiveOf(Source());

    const std::string before = CurrentDirectory();
    auto action = ActionFor(GetParam());
    ASSERT_EQ(Extract(*action, archive, Destination()), IExtractAction::kDone);
    EXPECT_EQ(CurrentDirectory(), before);
    EXPECT_EQ(Tree(Destination()), Tree(Source()));

    EXPECT_TRUE(Mode(Destination() + "run.sh") & S_IXUSR);
    EXPECT_FALSE(Mode(Destination() + "a/sibling.txt") & S_IXUSR);
    const mode_t special = Mode(Destination() + "special.bin");
    EXPECT_TRUE(S_ISREG(special));
    EXPECT_TRUE(special & S_IXUSR);
    EXPECT_EQ(special & (S_ISUID | S_ISGID | S_ISVTX | S_IWOTH | S_IWGRP), 0u) << std::oct << special;

    // The same through the update's entry point, over what is now there.
    EXPECT_EQ(ExtractArchive(GetParam().kind, archive.data(), static_cast<uint32_t>(archive.size()), 0,
                             Destination().c_str()), 0);
    EXPECT_EQ(Tree(Destination()), Tree(Source()));
}

TEST_P(ExtractArchiveTest, ReplacesExistingFilesAndARunningProgram)
{
    WriteFile(Source() + "a/b/c/deep.txt", "new deep");
    WriteFile(Source() + "engine", "#!/bin/sh\necho new engine\n");
    chmod((Source() + "engine").c_str(), 0755);
    const std::vector<unsigned char> archive = ArchiveOf(Source());

    WriteFile(Destination() + "a/b/c/deep.txt", "old deep, longer than the new one");
    WriteFile(Destination() + "kept.txt", "kept");
    // A running program under the name the archive replaces: the file cannot
    // be opened for writing while it runs.
    std::filesystem::copy_file("/bin/sleep", Destination() + "engine");
    const std::string pidFile = m_scratch.Path() + "pid";
    ASSERT_TRUE(RunShell(Quote(Destination() + "engine") + " 60 >/dev/null 2>&1 & echo $! > " + Quote(pidFile)));
    const pid_t pid = static_cast<pid_t>(std::stol(ReadFile(pidFile)));
    const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    // Wait until the program has really started from that file.
    std::error_code notYet;
    for (int i = 0; i < 500 && std::filesystem::read_symlink(exe, notYet) != Destination() + "engine"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    auto action = ActionFor(GetParam());
    const int result = Extract(*action, archive, Destination());
    const bool stillRunning = kill(pid, 0) == 0;
    kill(pid, SIGKILL);
    EXPECT_EQ(result, IExtractAction::kDone);
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(ReadFile(Destination() + "a/b/c/deep.txt"), "new deep");
    EXPECT_EQ(ReadFile(Destination() + "engine"), "#!/bin/sh\necho new engine\n");
    EXPECT_EQ(ReadFile(Destination() + "kept.txt"), "kept");
    EXPECT_TRUE(Mode(Destination() + "engine") & S_IXUSR);
}

TEST_P(ExtractArchiveTest, BadInput)
{
    WriteFile(Source() + "f.txt", "f");
    const std::vector<unsigned char> archive = ArchiveOf(Source());
    const std::vector<unsigned char> text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'};
    auto action = ActionFor(GetParam());
    const std::string folder = Destination();
    struct Case {
        const char* label;
        const void* data;
        uint32_t low;
        int32_t high;
        const char* folder;
        int result;
    } cases[] = {
        {"not an archive", text.data(), static_cast<uint32_t>(text.size()), 0, folder.c_str(), GetParam().failure},
        {"half an archive", archive.data(), static_cast<uint32_t>(archive.size() / 2), 0, folder.c_str(), GetParam().failure},
        {"end cut", archive.data(), static_cast<uint32_t>(archive.size() - 10), 0, folder.c_str(), GetParam().failure},
        {"empty folder", archive.data(), static_cast<uint32_t>(archive.size()), 0, "", IExtractAction::kBadArguments},
        {"no folder", archive.data(), static_cast<uint32_t>(archive.size()), 0, nullptr, IExtractAction::kBadArguments},
        {"no data", nullptr, 10, 0, folder.c_str(), IExtractAction::kBadArguments},
        {"size 0", archive.data(), 0, 0, folder.c_str(), IExtractAction::kBadArguments},
        {"negative size", archive.data(), 10, -1, folder.c_str(), IExtractAction::kBadArguments},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(action->Extract(c.data, c.low, c.high, c.folder), c.result);
        EXPECT_EQ(ExtractArchive(GetParam().kind, c.data, c.low, c.high, c.folder), kExtractFailed);
        EXPECT_EQ(Tree(folder), (std::map<std::string, std::string>{})) << "nothing is left behind";
    }
    // The other kind's action does not read this archive; no action for
    // other kinds.
    const int otherKind = GetParam().kind == kArchiveZip ? kArchive7z : kArchiveZip;
    EXPECT_EQ(ExtractArchive(otherKind, archive.data(), static_cast<uint32_t>(archive.size()), 0, folder.c_str()), kExtractFailed);
    EXPECT_EQ(ExtractArchive(kArchiveNone, archive.data(), static_cast<uint32_t>(archive.size()), 0, folder.c_str()), kExtractFailed);
    EXPECT_EQ(ExtractArchive(9, archive.data(), static_cast<uint32_t>(archive.size()), 0, folder.c_str()), kExtractFailed);
}

TEST_P(ExtractArchiveTest, AFolderLinkInTheDestinationIsNotFollowed)
{
    WriteFile(Source() + "l/x.txt", "through the link");
    const std::vector<unsigned char> archive = ArchiveOf(Source());
    const std::string outside = m_scratch.Path() + "outside/";
    std::filesystem::create_directories(outside);
    std::filesystem::create_directories(Destination());
    std::filesystem::create_directory_symlink(outside, Destination() + "l");
    const auto before = Tree(Destination());
    auto action = ActionFor(GetParam());
    EXPECT_EQ(Extract(*action, archive, Destination()), GetParam().failure);
    EXPECT_EQ(Tree(outside), (std::map<std::string, std::string>{}));
    EXPECT_EQ(Tree(Destination()), before);
}

TEST_P(ExtractArchiveTest, ACorruptEntryFailsAndChangesNothing)
{
    // Stored, not compressed: the changed byte is the first file's data and
    // only its checksum can tell.
    WriteFile(Source() + "a.txt", std::string(1000, 'a'));
    WriteFile(Source() + "b.txt", std::string(1000, 'b'));
    const std::string options = GetParam().kind == kArchiveZip ? "" : "-m0=Copy -mhc=off -ms=off";
    const std::string command = GetParam().kind == kArchiveZip
        ? "cd " + Quote(Source()) + " && zip -q -0 " + Quote(Archive()) + " a.txt b.txt"
        : "cd " + Quote(Source()) + " && 7z a -bd " + options + " " + Quote(Archive()) + " a.txt b.txt >/dev/null";
    ASSERT_TRUE(RunShell(command));
    std::vector<unsigned char> archive = ReadBytes(Archive());
    // The first run of 'a' bytes in the archive is a.txt's data.
    size_t at = 0;
    while (at + 10 < archive.size() && std::string(archive.begin() + at, archive.begin() + at + 10) != std::string(10, 'a')) ++at;
    ASSERT_LT(at + 500, archive.size());
    archive[at + 500] = 'x';
    WriteFile(Destination() + "a.txt", "old a");
    const auto before = Tree(Destination());
    auto action = ActionFor(GetParam());
    EXPECT_EQ(Extract(*action, archive, Destination()), GetParam().failure);
    EXPECT_EQ(Tree(Destination()), before);
}

TEST_P(ExtractArchiveTest, AnEntryThatCannotTakeItsPlaceChangesNothing)
{
    // a.txt can replace its old self; "sub" cannot replace the folder that
    // stands under its name. The archive lists a.txt first.
    WriteFile(Source() + "a.txt", "new a");
    WriteFile(Source() + "sub", "new sub");
    const std::string command = GetParam().kind == kArchiveZip
        ? "cd " + Quote(Source()) + " && zip -q " + Quote(Archive()) + " a.txt sub"
        : "cd " + Quote(Source()) + " && 7z a -bd " + Quote(Archive()) + " a.txt sub >/dev/null";
    ASSERT_TRUE(RunShell(command));
    const std::vector<unsigned char> archive = ReadBytes(Archive());
    WriteFile(Destination() + "a.txt", "old a");
    WriteFile(Destination() + "sub/inside.txt", "inside");
    WriteFile(Destination() + "kept/deeper/kept.txt", "kept");
    const auto before = Tree(Destination());
    const auto beside = Tree(m_scratch.Path());
    auto action = ActionFor(GetParam());
    EXPECT_EQ(Extract(*action, archive, Destination()), GetParam().failure);
    EXPECT_EQ(Tree(Destination()), before);
    // No staging folder is left beside the destination either.
    EXPECT_EQ(Tree(m_scratch.Path()), beside);
}

TEST_P(ExtractArchiveTest, WhatTheArchiveDoesNotReplaceStaysAsItWas)
{
    WriteFile(Source() + "a/new.txt", "new");
    WriteFile(Source() + "top.txt", "new top");
    const std::vector<unsigned char> archive = ArchiveOf(Source());
    WriteFile(Destination() + "a/old.txt", "old beside new");
    WriteFile(Destination() + "top.txt", "old top");
    WriteFile(Destination() + "config/deeper/service.log", "log lines");
    std::filesystem::create_directory_symlink("config", Destination() + "link");
    struct stat before {};
    ASSERT_EQ(stat((Destination() + "config/deeper/service.log").c_str(), &before), 0);
    auto action = ActionFor(GetParam());
    ASSERT_EQ(Extract(*action, archive, Destination()), IExtractAction::kDone);
    EXPECT_EQ(Tree(Destination()), (std::map<std::string, std::string>{{"a", "dir"},
                                                                          {"a/new.txt", "new"},
                                                                          {"a/old.txt", "old beside new"},
                                                                          {"config", "dir"},
                                                                          {"config/deeper", "dir"},
                                                                          {"config/deeper/service.log", "log lines"},
                                                                          {"link", "link:config"},
                                                                          {"top.txt", "new top"}}));
    // The same file, not a copy: a writer that holds it open writes on.
    struct stat after {};
    ASSERT_EQ(stat((Destination() + "config/deeper/service.log").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_P(ExtractArchiveTest, AFolderGivenThroughALinkIsUnpackedWhereItLeadsAndTheLinkStays)
{
    WriteFile(Source() + "engine", "new engine");
    const std::vector<unsigned char> archive = ArchiveOf(Source());
    const std::string real = m_scratch.Path() + "elsewhere/real/";
    WriteFile(real + "kept.txt", "kept");
    std::filesystem::create_directory_symlink(real, m_scratch.Path() + "linked");
    auto action = ActionFor(GetParam());
    EXPECT_EQ(Extract(*action, archive, m_scratch.Path() + "linked/"), IExtractAction::kDone);
    EXPECT_TRUE(std::filesystem::is_symlink(m_scratch.Path() + "linked"));
    EXPECT_EQ(Tree(real), (std::map<std::string, std::string>{{"engine", "new engine"}, {"kept.txt", "kept"}}));
}

INSTANTIATE_TEST_SUITE_P(Archivers, ExtractArchiveTest, testing::Values(kZip, k7z),
                         [](const testing::TestParamInfo<Archiver>& info) { return std::string(info.param.name == std::string("7z") ? "SevenZip" : "Zip"); });

namespace {

struct HostileEntry {
    std::string name;
    std::string data;
    unsigned mode; // Unix mode stored with the entry; 0: none
};

std::string HexOf(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

// Writes a zip with exactly these entries through Python's zipfile (names
// and data travel as hex, so no byte is interpreted on the way).
bool MakeZipWithEntries(const std::string& archive, const std::vector<HostileEntry>& entries)
{
    std::string script = "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n";
    for (const HostileEntry& e : entries) {
        script += "i = zipfile.ZipInfo(bytes.fromhex('" + HexOf(e.name) + "').decode())\n";
        if (e.mode) script += "i.create_system = 3\ni.external_attr = " + std::to_string(e.mode) + " << 16\n";
        script += "z.writestr(i, bytes.fromhex('" + HexOf(e.data) + "'))\n";
    }
    script += "z.close()\n";
    return RunShell("python3 -c " + Quote(script) + " " + Quote(archive));
}

constexpr unsigned kLinkMode = 0120777;
constexpr unsigned kFileMode = 0100644;

} // namespace

TEST(ExtractArchiveHostile, ZipEntriesThatLeaveTheFolderAreRefused)
{
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    ScratchFolder scratch;
    const std::string outside = scratch.Path() + "outside/";
    const std::string destination = scratch.Path() + "destination/";
    struct Case {
        const char* label;
        std::vector<HostileEntry> entries;
    } cases[] = {
        {"parent", {{"ok.txt", "ok", 0}, {"../outside/x", "evil", 0}}},
        {"absolute", {{"ok.txt", "ok", 0}, {outside + "x", "evil", 0}}},
        {"parent inside a path", {{"a/../../outside/x", "evil", 0}}},
        {"parent with backslashes", {{"..\\outside\\x", "evil", 0}}},
        {"absolute with a backslash", {{"\\x", "evil", 0}}},
        {"link out, then a file through it", {{"l", "../outside", kLinkMode}, {"l/x", "evil", 0}}},
        {"absolute link", {{"l", outside, kLinkMode}, {"l/x", "evil", 0}}},
        {"link with a parent component", {{"d/x", "d", 0}, {"l", "d/../../outside", kLinkMode}}},
        {"file through a link pointing inside", {{"d/keep", "k", 0}, {"l", "d", kLinkMode}, {"l/x", "evil", 0}}},
        {"only dots", {{"./.", "x", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(outside);
        std::filesystem::remove_all(destination);
        std::filesystem::create_directories(outside);
        WriteFile(destination + "before.txt", "before");
        const std::string archive = scratch.Path() + "hostile.zip";
        ASSERT_TRUE(MakeZipWithEntries(archive, c.entries));
        const std::vector<unsigned char> data = ReadBytes(archive);
        CGZipExtractAction action;
        EXPECT_EQ(Extract(action, data, destination), IExtractAction::kZipFailed);
        EXPECT_EQ(ExtractArchive(kArchiveZip, data.data(), static_cast<uint32_t>(data.size()), 0, destination.c_str()),
                  kExtractFailed);
        EXPECT_EQ(Tree(outside), (std::map<std::string, std::string>{}));
        EXPECT_EQ(Tree(destination), (std::map<std::string, std::string>{{"before.txt", "before"}}));
        EXPECT_FALSE(std::filesystem::exists(scratch.Path() + "x"));
    }
}

TEST(ExtractArchiveHostile, ZipNamesThatStayInsideAreUnpacked)
{
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    ScratchFolder scratch;
    const std::string destination = scratch.Path() + "destination/";
    const std::string archive = scratch.Path() + "names.zip";
    ASSERT_TRUE(MakeZipWithEntries(archive, {{"dir\\sub\\f.txt", "backslashes", 0},
                                             {"./a/./b.txt", "dots", 0},
                                             {"c//d.txt", "double slash", kFileMode},
                                             {"target/t.txt", "t", 0},
                                             {"inside", "target/t.txt", kLinkMode},
                                             {"open/", "", 040777}}));
    const std::vector<unsigned char> data = ReadBytes(archive);
    CGZipExtractAction action;
    ASSERT_EQ(Extract(action, data, destination), IExtractAction::kDone);
    EXPECT_EQ(Tree(destination), (std::map<std::string, std::string>{
                                     {"dir", "dir"}, {"dir/sub", "dir"}, {"dir/sub/f.txt", "backslashes"},
                                     {"a", "dir"}, {"a/b.txt", "dots"}, {"c", "dir"}, {"c/d.txt", "double slash"},
                                     {"target", "dir"}, {"target/t.txt", "t"}, {"inside", "link:target/t.txt"},
                                     {"open", "dir"}}));
    EXPECT_EQ(ReadFile(destination + "inside"), "t");
    EXPECT_FALSE(Mode(destination + "open") & S_IWOTH);
}

TEST(ExtractArchiveHostile, SevenZipEntriesThatLeaveTheFolderAreRefused)
{
    if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
    ScratchFolder scratch;
    const std::string outside = scratch.Path() + "outside/";
    const std::string source = scratch.Path() + "source/";
    const std::string destination = scratch.Path() + "destination/";
    WriteFile(source + "sub/f.txt", "evil");
    std::filesystem::create_directory_symlink("../outside", source + "l");
    const std::string sevenZip = "LC_ALL=C.UTF-8 7z a -bd ";
    struct Case {
        const char* label;
        std::string command; // run in source/, writes the archive
    } cases[] = {
        {"absolute name", sevenZip + "-spf {archive} " + Quote(source + "sub/f.txt")},
        {"parent name", sevenZip + "-spf {archive} ../source/sub/f.txt"},
        {"link out", sevenZip + "-snl {archive} l"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(outside);
        std::filesystem::remove_all(destination);
        std::filesystem::create_directories(outside);
        WriteFile(destination + "before.txt", "before");
        const std::string archive = scratch.Path() + "hostile.7z";
        std::filesystem::remove(archive);
        std::string command = c.command;
        command.replace(command.find("{archive}"), 9, Quote(archive));
        ASSERT_TRUE(RunShell("cd " + Quote(source) + " && " + command + " >/dev/null"));
        const std::vector<unsigned char> data = ReadBytes(archive);
        C7ZipExtractAction action;
        EXPECT_EQ(Extract(action, data, destination), IExtractAction::kSevenZipFailed);
        EXPECT_EQ(Tree(outside), (std::map<std::string, std::string>{}));
        EXPECT_EQ(Tree(destination), (std::map<std::string, std::string>{{"before.txt", "before"}}));
    }
}
