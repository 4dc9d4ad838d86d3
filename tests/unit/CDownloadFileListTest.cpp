// The update file list: claiming and finishing records as one table per
// scenario, the keys, Classify, the archive kind of a URL, Receive's routing,
// and OnDescription driven with a stand-in for the engine update's reading of
// the description. Data that is verified and unpacked into real folders is
// tested in integration/UpdateFileDataTest.cpp.

#include "engine/CDownloadFileList.h"
#include "engine/DigestList.h"
#include "engine/ExtractArchive.h"
#include "engine/IGetPath.h"
#include "engine/IUpdateDescriptionHandler.h"
#include "engine/UpdateSequence.h"
#include "netlib/xml/CXMLParserOstrel.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr const char* kUrl = "http://u.test/v3/ZDRDownloadV32.exe.zip";
constexpr const char* kDigestUrl = "http://u.test/v3/ZDRDownloadV32.exe.md4";
constexpr const char* kDescriptionUrl = "http://u.test/ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml";

enum class Op { kAdd, kFindNext, kFinishOk, kFinishFailed, kUnlimited, kLimited, kReceiveList };

struct Step {
    Op op;
    const char* url;       // kAdd: URL; kFinish*, kReceiveList: the transfer URL
    const char* digestUrl; // kAdd only
    // kFindNext: the key of the claimed record (null: none); kAdd: "1"/"0".
    const char* expect;
    size_t recordsAfter;
};

struct Scenario {
    const char* label;
    std::vector<Step> steps;
};

void RunScenario(const Scenario& scenario)
{
    SCOPED_TRACE(scenario.label);
    CDownloadFileList list(nullptr);
    const unsigned char digestList[16] = {1};
    int index = 0;
    for (const Step& step : scenario.steps) {
        SCOPED_TRACE(index++);
        switch (step.op) {
        case Op::kAdd:
            EXPECT_EQ(list.AddRecord(step.url, step.digestUrl, step.digestUrl ? "f.exe" : nullptr,
                                     step.digestUrl ? "/tmp/x/" : nullptr),
                      std::string(step.expect) == "1" ? 1 : 0);
            break;
        case Op::kFindNext: {
            CDownloadFile* record = list.FindNext();
            if (!step.expect) {
                EXPECT_EQ(record, nullptr);
            } else {
                ASSERT_NE(record, nullptr);
                EXPECT_EQ(record->GetKey(), step.expect);
                EXPECT_TRUE(record->IsBusy());
                std::string url;
                EXPECT_EQ(record->GetTransferUrl(url), 1);
                EXPECT_EQ(url, step.expect);
            }
            break;
        }
        case Op::kFinishOk: list.Finish(step.url, 1); break;
        case Op::kFinishFailed: list.Finish(step.url, 0); break;
        case Op::kUnlimited: list.SetUnlimited(1); break;
        case Op::kLimited: list.SetUnlimited(0); break;
        case Op::kReceiveList: {
            CDownloadFile* record = list.FindRecord(step.url);
            ASSERT_NE(record, nullptr);
            int kind = -1;
            EXPECT_EQ(record->Receive(step.url, digestList, sizeof digestList, 0, &kind), 0);
            EXPECT_EQ(kind, IProgressFile::kTransferDigestList);
            EXPECT_EQ(record->IsStageEnd(), 0);
            break;
        }
        }
        EXPECT_EQ(list.GetRecordCount(), step.recordsAfter);
        EXPECT_EQ(list.HasRecords(), step.recordsAfter > 0);
    }
}

} // namespace

TEST(CDownloadFileList, ClaimAndFinish)
{
    const char* u = "http://u.test/a.zip";
    const char* d = "http://u.test/a.md4";
    const char* v = "http://u.test/b.7z";
    const Scenario scenarios[] = {
        {"three attempts, then dropped",
         {{Op::kAdd, u, nullptr, "1", 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 0},
          {Op::kFindNext, nullptr, nullptr, nullptr, 0}}},
        {"finishing another key releases nothing",
         {{Op::kAdd, u, nullptr, "1", 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, "http://u.test/other", nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, nullptr, 1}}},
        {"success removes at once",
         {{Op::kAdd, u, nullptr, "1", 1}, {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishOk, u, nullptr, nullptr, 0}}},
        {"a busy record is not claimed twice",
         {{Op::kAdd, u, nullptr, "1", 1}, {Op::kAdd, v, nullptr, "1", 2},
          {Op::kFindNext, nullptr, nullptr, u, 2}, {Op::kFindNext, nullptr, nullptr, v, 2},
          {Op::kFindNext, nullptr, nullptr, nullptr, 2},
          {Op::kFinishFailed, u, nullptr, nullptr, 2}, {Op::kFindNext, nullptr, nullptr, u, 2},
          {Op::kFinishOk, v, nullptr, nullptr, 1}, {Op::kFinishOk, u, nullptr, nullptr, 0}}},
        {"unlimited attempts while the server is unreachable",
         {{Op::kAdd, u, nullptr, "1", 1}, {Op::kUnlimited, nullptr, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kLimited, nullptr, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishFailed, u, nullptr, nullptr, 0}}},
        {"a failed digest-list fetch keeps verification",
         {{Op::kAdd, u, d, "1", 1},
          {Op::kFindNext, nullptr, nullptr, d, 1}, {Op::kFinishFailed, d, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, d, 1}, {Op::kFinishFailed, d, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, d, 1}, {Op::kFinishFailed, d, nullptr, nullptr, 0}}},
        {"the key moves from the digest URL to the URL",
         {{Op::kAdd, u, d, "1", 1},
          {Op::kFindNext, nullptr, nullptr, d, 1}, {Op::kReceiveList, d, nullptr, nullptr, 1},
          {Op::kFinishOk, d, nullptr, nullptr, 1}, // no record has that key any more
          {Op::kFinishFailed, u, nullptr, nullptr, 1},
          {Op::kFindNext, nullptr, nullptr, u, 1}, {Op::kFinishOk, u, nullptr, nullptr, 0}}},
        {"keys are unique and exact",
         {{Op::kAdd, u, nullptr, "1", 1}, {Op::kAdd, u, nullptr, "0", 1}, {Op::kAdd, u, d, "1", 2},
          {Op::kAdd, v, d, "0", 2}, {Op::kAdd, d, nullptr, "0", 2}, {Op::kAdd, "HTTP://U.TEST/A.ZIP", nullptr, "1", 3},
          {Op::kAdd, nullptr, d, "0", 3}}},
    };
    for (const Scenario& scenario : scenarios) RunScenario(scenario);
}

TEST(CDownloadFileList, Classify)
{
    CDownloadFileList list(nullptr);
    ASSERT_EQ(list.AddRecord(kDescriptionUrl, nullptr, nullptr, nullptr), 1);
    ASSERT_EQ(list.AddRecord(kUrl, kDigestUrl, "ZDRDownloadV32.exe", "/tmp/e/"), 1);
    ASSERT_EQ(list.AddRecord("http://u.test/plain.7z", "", "plain.dll", "/tmp/e/"), 1);
    CDownloadFile* description = list.FindRecord(kDescriptionUrl);
    CDownloadFile* verified = list.FindRecord(kDigestUrl);
    CDownloadFile* plain = list.FindRecord("http://u.test/plain.7z");
    ASSERT_TRUE(description && verified && plain);
    struct Case {
        CDownloadFile* record;
        const char* url;
        int kind;
    } cases[] = {
        {description, kDescriptionUrl, IProgressFile::kTransferDescription},
        {description, kUrl, IProgressFile::kTransferNotMine},
        {description, "", IProgressFile::kTransferNotMine},
        {description, nullptr, IProgressFile::kTransferNotMine},
        {verified, kDigestUrl, IProgressFile::kTransferDigestList},
        {verified, kUrl, IProgressFile::kTransferFileData},
        {verified, kDescriptionUrl, IProgressFile::kTransferNotMine},
        {verified, "", IProgressFile::kTransferNotMine},
        {verified, "HTTP://U.TEST/V3/ZDRDOWNLOADV32.EXE.ZIP", IProgressFile::kTransferNotMine},
        {plain, "http://u.test/plain.7z", IProgressFile::kTransferFileData},
        {plain, "", IProgressFile::kTransferNotMine},
    };
    for (const Case& c : cases) EXPECT_EQ(c.record->Classify(c.url), c.kind) << (c.url ? c.url : "(null)");
    EXPECT_TRUE(description->IsDescription());
    EXPECT_FALSE(verified->IsDescription());
    EXPECT_FALSE(plain->IsDescription());
    EXPECT_EQ(plain->GetDigestList(), nullptr);
    EXPECT_EQ(description->GetAttemptsLeft(), 3);
    EXPECT_EQ(list.FindRecord(nullptr), nullptr);

    // Once the digest list is held, its address is no longer the record's.
    const unsigned char bytes[32] = {7};
    int kind = 0;
    EXPECT_EQ(verified->Receive(kDigestUrl, bytes, sizeof bytes, 0, &kind), 0);
    EXPECT_EQ(verified->Classify(kDigestUrl), IProgressFile::kTransferNotMine);
    EXPECT_EQ(verified->Classify(kUrl), IProgressFile::kTransferFileData);
    ASSERT_NE(verified->GetDigestList(), nullptr);
    EXPECT_EQ(*verified->GetDigestList(), std::vector<unsigned char>(bytes, bytes + sizeof bytes));
}

TEST(CDownloadFileList, ArchiveKindOfUrl)
{
    const struct {
        const char* url;
        int kind;
    } cases[] = {
        {"http://u.test/v3/engine.ZIP", kArchiveZip},
        {"http://u.test/v3/engine.zip", kArchiveZip},
        {"http://u.test/v3/engine.tar.7z", kArchive7z},
        {"http://u.test/v3/engine.7Z", kArchive7z},
        {"http://localhost/engine", kArchiveNone},
        {"engine", kArchiveNone},
        {".zip", kArchiveNone},
        {".7z", kArchiveNone},
        {"a.zip.exe", kArchiveNone},
        {"http://u.test/engine.zip?x=1", kArchiveNone},
        {"http://u.test.example/engine", kArchiveNone},
        {"engine.", kArchiveNone},
        {"", kArchiveNone},
    };
    for (const auto& c : cases) EXPECT_EQ(CDownloadFileList::ArchiveKindOf(c.url), c.kind) << c.url;
}

TEST(CDownloadFileList, ReceiveRouting)
{
    CDownloadFileList list(nullptr);
    ASSERT_EQ(list.AddRecord(kUrl, kDigestUrl, "ZDRDownloadV32.exe", "/nonexistent-zdr/"), 1);
    CDownloadFile* record = list.FindNext();
    ASSERT_NE(record, nullptr);
    const unsigned char data[4] = {1, 2, 3, 4};
    int kind = -1;
    EXPECT_EQ(record->Receive(nullptr, data, 4, 0, &kind), IProgressFile::kReceiveBadArguments);
    EXPECT_EQ(record->Receive(kUrl, nullptr, 4, 0, &kind), IProgressFile::kReceiveBadArguments);
    EXPECT_EQ(record->Receive(kUrl, data, 0, 0, &kind), IProgressFile::kReceiveBadArguments);
    EXPECT_EQ(record->Receive(kUrl, data, 4, -1, &kind), IProgressFile::kReceiveBadArguments);
    EXPECT_EQ(kind, -1);
    EXPECT_EQ(record->Receive("http://u.test/other", data, 4, 0, &kind), IProgressFile::kReceiveNotMine);
    EXPECT_EQ(kind, -1);
    // Data before its digest list: never unpacked unverified.
    EXPECT_EQ(record->Receive(kUrl, data, 4, 0, &kind), CDownloadFileList::kFileDataDigestMismatch);
    EXPECT_EQ(kind, IProgressFile::kTransferFileData);
    EXPECT_EQ(record->IsStageEnd(), 1);
    // A list that does not belong to the data.
    const unsigned char list16[16] = {};
    EXPECT_EQ(record->Receive(kDigestUrl, list16, 16, 0, &kind), 0);
    EXPECT_EQ(kind, IProgressFile::kTransferDigestList);
    EXPECT_EQ(record->IsStageEnd(), 0);
    EXPECT_EQ(record->Receive(kUrl, data, 4, 0, &kind), CDownloadFileList::kFileDataDigestMismatch);
    EXPECT_EQ(record->IsStageEnd(), 1);
    // The right list, but the URL names no archive kind: 5.
    CDownloadFileList other(nullptr);
    ASSERT_EQ(other.AddRecord("http://u.test/engine.bin", "http://u.test/engine.md4", "e", "/nonexistent-zdr/"), 1);
    CDownloadFile* unknown = other.FindNext();
    const std::vector<unsigned char> right = BuildDigestList(data, sizeof data);
    EXPECT_EQ(unknown->Receive("http://u.test/engine.md4", right.data(), static_cast<uint32_t>(right.size()), 0, &kind), 0);
    EXPECT_EQ(unknown->Receive("http://u.test/engine.bin", data, 4, 0, &kind), kExtractFailed);
    // Direct calls with missing arguments.
    EXPECT_EQ(list.OnFileData(nullptr, nullptr, data, 4, 0), CDownloadFileList::kFileDataBadArguments);
    EXPECT_EQ(list.OnFileData(record, nullptr, nullptr, 4, 0), CDownloadFileList::kFileDataBadArguments);
    EXPECT_EQ(list.OnFileData(record, nullptr, data, 0, 0), CDownloadFileList::kFileDataBadArguments);
}

namespace {

// The engine update's reading of the description, scripted.
class StandInHandler : public IUpdateDescriptionHandler {
public:
    std::string version;
    std::vector<std::string> files;
    int versionCalls = 0;
    int chooseCalls = 0;
    std::string seenRoot;

    std::string ReadNewVersion(const CXMLParserOstrel& description) override
    {
        ++versionCalls;
        char name[64] = {};
        if (description.GetRoot()) description.GetRoot()->GetName(name, sizeof name, false);
        seenRoot = name;
        return version;
    }
    std::vector<std::string> ChooseFiles(const CXMLParserOstrel&, const std::string& newVersion) override
    {
        ++chooseCalls;
        EXPECT_EQ(newVersion, version);
        return files;
    }
};

class StandInPaths : public IGetPath {
public:
    explicit StandInPaths(std::string base) : m_base(std::move(base)) {}
    std::string GetBaseFolder() const override { return m_base; }
    std::string GetEngineFolder() const override { return m_base + "engine/"; }
    std::string GetEngineExePath() const override { return GetEngineFolder() + "ZDRDownloadV32.exe"; }

private:
    std::string m_base;
};

// Every file of a signed description names its SHA-256.
const std::string kSha = " sha256=\"" + std::string(64, 'a') + "\"";

std::string Description(int files, bool packageUrl = true, bool exeUrl = true, bool exeSha = true)
{
    std::string text = "<?xml version=\"1.0\"?>\r\n<update>\r\n <file>\r\n";
    text += std::string("  <ZDRDownloadV32.exe ver=\"1.0.0.10\"") + (exeUrl ? " url=\"http://u.test/e.zip\"" : "") +
        (exeSha ? kSha : "") + " hash=\"http://u.test/e.md4\"/>\r\n";
    for (int i = 1; i < files; ++i)
        text += "  <part" + std::to_string(i) + ".dll url=\"http://u.test/p.7z\"" + kSha + "/>\r\n";
    text += " </file>\r\n <all>\r\n  <all";
    if (packageUrl) text += " url=\"http://u.test/all.7z?v=1&amp;w=2\"";
    text += kSha + " hash=\"http://u.test/all.md4\"/>\r\n </all>\r\n</update>\r\n";
    return text;
}

int Deliver(CDownloadFileList& list, const std::string& text, int* kind = nullptr)
{
    if (!list.FindRecord(kDescriptionUrl)) list.AddRecord(kDescriptionUrl, nullptr, nullptr, nullptr);
    CDownloadFile* record = list.FindRecord(kDescriptionUrl);
    return record->Receive(kDescriptionUrl, text.data(), static_cast<uint32_t>(text.size()), 0, kind);
}

class CDownloadFileListDescription : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zdr-filelist-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_base = std::string(pattern) + "/";
    }
    void TearDown() override { std::filesystem::remove_all(m_base); }

    std::string m_base;
};

} // namespace

TEST_F(CDownloadFileListDescription, PackageWhenEveryFileIsChosen)
{
    StandInPaths paths(m_base + "data/Ostrel/");
    StandInHandler handler;
    handler.version = "1.0.0.10";
    handler.files = {paths.GetEngineExePath(), ""};
    CDownloadFileList list(&handler, &paths);
    int kind = 0;
    EXPECT_EQ(Deliver(list, Description(2), &kind), 0);
    EXPECT_EQ(kind, IProgressFile::kTransferDescription);
    EXPECT_TRUE(std::filesystem::is_directory(paths.GetEngineFolder()));
    EXPECT_EQ(handler.seenRoot, "update");
    EXPECT_EQ(list.GetVersion(), "1.0.0.10");
    list.Finish(kDescriptionUrl, 1);
    ASSERT_EQ(list.GetRecordCount(), 1u);
    CDownloadFile* package = list.FindNext();
    ASSERT_NE(package, nullptr);
    EXPECT_EQ(package->GetUrl(), "http://u.test/all.7z?v=1&w=2");
    EXPECT_EQ(package->GetDigestUrl(), "http://u.test/all.md4");
    EXPECT_EQ(package->GetFolder(), paths.GetEngineFolder());
    EXPECT_EQ(package->GetName(), "ZDRDownloadV32.exe");
    EXPECT_EQ(package->GetSha256(), std::string(64, 'a'));
}

TEST_F(CDownloadFileListDescription, OneRecordPerChosenFile)
{
    StandInPaths paths(m_base);
    StandInHandler handler;
    handler.version = "2.0";
    handler.files = {paths.GetEngineExePath(), ""};
    CDownloadFileList list(&handler, &paths);
    EXPECT_EQ(Deliver(list, Description(3)), 0);
    list.Finish(kDescriptionUrl, 1);
    ASSERT_EQ(list.GetRecordCount(), 1u);
    CDownloadFile* exe = list.FindNext();
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(exe->GetUrl(), "http://u.test/e.zip");
    EXPECT_EQ(exe->GetDigestUrl(), "http://u.test/e.md4");
    EXPECT_EQ(exe->GetKey(), "http://u.test/e.md4");
    EXPECT_EQ(exe->GetFolder(), paths.GetEngineFolder());
    EXPECT_EQ(exe->GetName(), "ZDRDownloadV32.exe");

    // Names are looked up without letter case; a file without digest list is
    // a plain record.
    StandInHandler lower;
    lower.version = "2.0";
    lower.files = {m_base + "x/PART1.DLL"};
    CDownloadFileList second(&lower, &paths);
    EXPECT_EQ(Deliver(second, Description(3)), 0);
    CDownloadFile* part = second.FindRecord("http://u.test/p.7z");
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->GetFolder(), m_base + "x/");
    EXPECT_EQ(part->GetName(), "PART1.DLL");
    EXPECT_EQ(part->GetDigestList(), nullptr);
}

// The description with a sequence attribute on its document element.
std::string Sequenced(const std::string& sequence)
{
    std::string text = Description(2);
    text.replace(text.find("<update>"), 8, "<update sequence=\"" + sequence + "\">");
    return text;
}

TEST_F(CDownloadFileListDescription, ADescriptionOlderThanTheNewestAcceptedIsRejected)
{
    StandInPaths paths(m_base);
    const std::string kept = m_base + kUpdateSequenceFileName;
    struct Case {
        const char* label;
        const char* before; // the kept sequence; null: none kept
        std::string text;
        int result;
        uint64_t after; // the kept sequence afterwards
    } cases[] = {
        {"first numbered description", nullptr, Sequenced("5"), 0, 5},
        {"newer", "5", Sequenced("6"), 0, 6},
        {"the same again", "6", Sequenced("6"), 0, 6},
        {"older: a replay", "6", Sequenced("5"), 3, 6},
        {"without a sequence after a numbered one", "6", Description(2), 3, 6},
        {"without a sequence, none kept", nullptr, Description(2), 0, 0},
        {"largest number", "6", Sequenced("18446744073709551615"), 0, UINT64_MAX},
        {"past 64 bits", "6", Sequenced("18446744073709551616"), 3, 6},
        {"not a number", nullptr, Sequenced("7x"), 3, 0},
        {"empty", nullptr, Sequenced(""), 3, 0},
        {"a kept file that holds no number reads as none", "junk", Sequenced("1"), 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove(kept);
        if (c.before) {
            FILE* f = fopen(kept.c_str(), "w");
            ASSERT_NE(f, nullptr);
            fputs(c.before, f);
            fclose(f);
        }
        StandInHandler handler;
        handler.version = "1.0.0.10";
        handler.files = {paths.GetEngineExePath(), ""};
        CDownloadFileList list(&handler, &paths);
        EXPECT_EQ(Deliver(list, c.text), c.result);
        EXPECT_EQ(list.GetRecordCount(), c.result == 0 ? 2u : 1u);
        EXPECT_EQ(LoadAcceptedSequence(kept), c.after);
    }
}

TEST_F(CDownloadFileListDescription, Rejections)
{
    StandInPaths paths(m_base);
    struct Case {
        const char* label;
        std::string text;
        const char* version;
        std::vector<std::string> files;
        int result;
        size_t records; // besides the description's own
    } cases[] = {
        {"no version", Description(2), "", {}, 3, 0},
        {"package without url", Description(2, false), "1", {m_base + "engine/ZDRDownloadV32.exe", ""}, 3, 0},
        {"file without url", Description(3, true, false), "1", {m_base + "engine/ZDRDownloadV32.exe", ""}, 3, 0},
        {"file not described", Description(3), "1", {m_base + "engine/missing.exe"}, 3, 0},
        {"file without sha256", Description(3, true, true, false), "1", {m_base + "engine/ZDRDownloadV32.exe", ""}, 3, 0},
        {"nothing to update", Description(2), "1", {}, 0, 0},
        // No "file" element lists nothing, so choosing nothing means the
        // package, which is not described either.
        {"not XML at all", "garbage", "1", {}, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        StandInHandler handler;
        handler.version = c.version;
        handler.files = c.files;
        CDownloadFileList list(&handler, &paths);
        EXPECT_EQ(Deliver(list, c.text), c.result);
        EXPECT_EQ(list.GetRecordCount(), 1 + c.records);
        EXPECT_EQ(handler.versionCalls, 1);
        EXPECT_EQ(handler.chooseCalls, *c.version ? 1 : 0);
    }

    StandInHandler handler;
    handler.version = "1";
    CDownloadFileList list(&handler, &paths);
    EXPECT_EQ(list.OnDescription(nullptr, nullptr, 10, 0), CDownloadFileList::kDescriptionNoData);
    EXPECT_EQ(list.OnDescription(nullptr, "x", 0, 0), CDownloadFileList::kDescriptionNoData);
    EXPECT_EQ(handler.versionCalls, 0);

    // The engine folder cannot be made: a file stands where a folder must be.
    StandInPaths blocked(m_base + "file/");
    { FILE* f = fopen((m_base + "file").c_str(), "w"); ASSERT_NE(f, nullptr); fclose(f); }
    CDownloadFileList noFolder(&handler, &blocked);
    EXPECT_EQ(Deliver(noFolder, Description(2)), CDownloadFileList::kDescriptionNoEngineFolder);
    EXPECT_EQ(handler.versionCalls, 0);

    CDownloadFileList noHandler(nullptr, &paths);
    EXPECT_EQ(Deliver(noHandler, Description(2)), CDownloadFileList::kDescriptionRejected);
}
