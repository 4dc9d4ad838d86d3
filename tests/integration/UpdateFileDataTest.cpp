// A verified engine file end to end, as the update's transfer hands it over:
// the digest list arrives, then the data (an archive made by the real zip or
// 7z at test time), which must match the list before it is unpacked into a
// real folder. A corrupted list or corrupted data never reaches the folder,
// on any attempt.

#include "ArchiveTools.h"
#include "engine/CDownloadFileList.h"
#include "engine/DigestList.h"

#include <gtest/gtest.h>

using namespace archive_tools;

namespace {

constexpr const char* kExe = "ZDRDownloadV32.exe";

struct Case {
    const char* tool;
    const char* url;
};

class UpdateFileDataTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        if (!HaveTool(GetParam().tool)) GTEST_SKIP() << GetParam().tool << " is not installed";
        // Stored without execute bits: the list makes the engine runnable.
        WriteFile(Source() + kExe, "#!/bin/sh\necho engine\n");
        chmod((Source() + kExe).c_str(), 0644);
        WriteFile(Source() + "lib/engine.dat", RandomText(3 * 1024 * 1024 + 5, 3)); // several 1 MiB pieces
        const std::string archive = m_scratch.Path() + "engine." + GetParam().tool;
        ASSERT_TRUE(std::string(GetParam().tool) == "zip" ? MakeZip(Source(), archive) : Make7z(Source(), archive));
        m_data = ReadBytes(archive);
        m_list = BuildDigestList(m_data.data(), m_data.size());
        ASSERT_GT(m_list.size(), 4u * 16u);
    }

    std::string Source() const { return m_scratch.Path() + "source/"; }
    std::string Folder() const { return m_scratch.Path() + "engine/"; }
    std::string DigestUrl() const { return std::string(GetParam().url) + ".md4"; }

    int Deliver(CDownloadFile* record, const std::string& url, const std::vector<unsigned char>& bytes, int* kind)
    {
        return record->Receive(url.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()), 0, kind);
    }

    ScratchFolder m_scratch;
    std::vector<unsigned char> m_data;
    std::vector<unsigned char> m_list;
};

} // namespace

TEST_P(UpdateFileDataTest, MatchingListUnpacksIntoTheFolder)
{
    CDownloadFileList list(nullptr);
    ASSERT_EQ(list.AddRecord(GetParam().url, DigestUrl().c_str(), kExe, Folder().c_str()), 1);
    CDownloadFile* record = list.FindNext();
    ASSERT_NE(record, nullptr);
    std::string transfer;
    record->GetTransferUrl(transfer);
    EXPECT_EQ(transfer, DigestUrl());
    int kind = 0;
    EXPECT_EQ(Deliver(record, transfer, m_list, &kind), 0);
    EXPECT_EQ(kind, IProgressFile::kTransferDigestList);
    EXPECT_EQ(record->IsStageEnd(), 0);
    record->GetTransferUrl(transfer);
    EXPECT_EQ(transfer, GetParam().url);
    EXPECT_EQ(Deliver(record, transfer, m_data, &kind), 0);
    EXPECT_EQ(kind, IProgressFile::kTransferFileData);
    EXPECT_EQ(record->IsStageEnd(), 1);
    list.Finish(transfer.c_str(), 1);
    EXPECT_FALSE(list.HasRecords());

    EXPECT_EQ(Tree(Folder()), Tree(Source()));
    EXPECT_TRUE(Mode(Folder() + kExe) & S_IXUSR);
}

TEST_P(UpdateFileDataTest, CorruptedListOrDataNeverReachesTheFolder)
{
    std::vector<unsigned char> wrongList = m_list;
    wrongList[wrongList.size() / 2] ^= 0x40;
    std::vector<unsigned char> longList = m_list;
    longList.insert(longList.end(), 16, 0);
    std::vector<unsigned char> shortList(m_list.begin(), m_list.end() - 16);
    std::vector<unsigned char> wrongData = m_data;
    wrongData[wrongData.size() / 3] ^= 0x01;
    struct Variant {
        const char* label;
        const std::vector<unsigned char>* list;
        const std::vector<unsigned char>* data;
    } variants[] = {
        {"corrupted list", &wrongList, &m_data},
        {"list longer than computed", &longList, &m_data},
        {"list shorter than computed", &shortList, &m_data},
        {"corrupted data", &m_list, &wrongData},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.label);
        CDownloadFileList list(nullptr);
        ASSERT_EQ(list.AddRecord(GetParam().url, DigestUrl().c_str(), kExe, Folder().c_str()), 1);
        CDownloadFile* record = list.FindNext();
        ASSERT_NE(record, nullptr);
        int kind = 0;
        EXPECT_EQ(Deliver(record, DigestUrl(), *v.list, &kind), 0);
        // Every attempt checks the data against the list it holds; after the
        // third the record is dropped.
        for (int attempt = 0; attempt < CDownloadFile::kAttempts; ++attempt) {
            SCOPED_TRACE(attempt);
            if (attempt) {
                ASSERT_EQ(list.FindNext(), record);
            }
            EXPECT_EQ(Deliver(record, GetParam().url, *v.data, &kind), CDownloadFileList::kFileDataDigestMismatch);
            EXPECT_EQ(kind, IProgressFile::kTransferFileData);
            list.Finish(GetParam().url, 0);
        }
        EXPECT_FALSE(list.HasRecords());
        EXPECT_FALSE(std::filesystem::exists(Folder()));
    }
}

INSTANTIATE_TEST_SUITE_P(Archivers, UpdateFileDataTest,
                         testing::Values(Case{"zip", "http://u.test/v3/ZDRDownloadV32.exe.ZIP"},
                                         Case{"7z", "http://u.test/v3/engine.tar.7z"}),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.tool) == "zip" ? "Zip" : "SevenZip";
                         });
