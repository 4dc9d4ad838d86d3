// The engine update's reading of a description (versions compared byte for
// byte against the installed executable's version note, which files to
// fetch) and the signed description record: its signature is fetched first
// and the description reaches the list only when the signature matches.

#include "engine/CDownloadFileList.h"
#include "engine/CUpdateDescriptionHandler.h"
#include "engine/IGetPath.h"
#include "engine/UpdateDescription.h"
#include "engine/UpdateSignature.h"
#include "netlib/xml/CXMLParserOstrel.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr const char* kDescriptionUrl = "http://u.test/ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml";
constexpr const char* kSignatureUrl = "http://u.test/ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml.sig";

class FolderPaths : public IGetPath {
public:
    explicit FolderPaths(std::string base) : m_base(std::move(base)) {}
    std::string GetBaseFolder() const override { return m_base; }
    std::string GetEngineFolder() const override { return m_base + "engine/"; }
    std::string GetEngineExePath() const override { return GetEngineFolder() + "ZDRDownloadV32.exe"; }

private:
    std::string m_base;
};

std::string ReadText(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Description(const std::string& version, int files)
{
    const std::string sha = " sha256=\"" + std::string(64, 'b') + "\"";
    std::string text = "<update><FILE><zdrdownloadv32.exe ver=\"" + version + "\" url=\"http://u.test/e.zip\"" + sha +
        " hash=\"http://u.test/e.md4\"/>";
    for (int i = 1; i < files; ++i) text += "<part" + std::to_string(i) + ".dll url=\"http://u.test/p.zip\"" + sha + "/>";
    return text + "</FILE><all><all url=\"http://u.test/all.zip\" hash=\"http://u.test/all.md4\"" + sha +
        "/></all></update>";
}

class UpdateDescriptionHandlerTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zdr-update-handler-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_base = std::string(pattern) + "/";
        std::filesystem::create_directories(m_base + "engine");
    }
    void TearDown() override { std::filesystem::remove_all(m_base); }
    void InstallEngine(const FolderPaths& paths)
    {
        std::filesystem::copy_file(ZDR_TEST_CHILD_PATH, paths.GetEngineExePath(),
                                   std::filesystem::copy_options::overwrite_existing);
    }

    std::string m_base;
};

} // namespace

TEST_F(UpdateDescriptionHandlerTest, VersionsCompareByteForByte)
{
    FolderPaths paths(m_base);
    InstallEngine(paths); // its version note says 1.0.0.10
    CUpdateDescriptionHandler handler(&paths);
    const std::vector<std::string> update = {paths.GetEngineExePath(), ""};
    struct Case {
        const char* version;
        std::vector<std::string> files;
    } cases[] = {
        {"1.0.0.10", {}},
        {"1.0.0.9", update},
        {"1.0.0.11", update},
        {"1.0.0.010", update},
        {"1.0.0.10 ", update},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        CXMLParserOstrel description;
        description.Load(Description(c.version, 2).c_str());
        EXPECT_EQ(handler.ReadNewVersion(description), c.version);
        EXPECT_EQ(handler.ChooseFiles(description, c.version), c.files);
    }
}

TEST_F(UpdateDescriptionHandlerTest, MissingExecutable)
{
    FolderPaths paths(m_base);
    CUpdateDescriptionHandler handler(&paths);
    CXMLParserOstrel description;
    description.Load(Description("1.0", 2).c_str());
    // No executable reads as the empty version, which differs.
    EXPECT_EQ(handler.ChooseFiles(description, "1.0"), (std::vector<std::string>{paths.GetEngineExePath(), ""}));
    // "1.0" and "1.0.0.0" are different texts.
    InstallEngine(paths);
    EXPECT_EQ(handler.ChooseFiles(description, "1.0.0.0").size(), 2u);
}

TEST_F(UpdateDescriptionHandlerTest, PackageOrOwnFileThroughTheList)
{
    FolderPaths paths(m_base);
    InstallEngine(paths);
    CUpdateDescriptionHandler handler(&paths);
    struct Case {
        int files;
        const char* expectUrl;
    } cases[] = {{2, "http://u.test/all.zip"}, {3, "http://u.test/e.zip"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files);
        CDownloadFileList list(&handler, &paths);
        ASSERT_EQ(list.AddRecord(kDescriptionUrl, nullptr, nullptr, nullptr), 1);
        const std::string text = Description("2.0", c.files);
        EXPECT_EQ(list.OnDescription(list.FindRecord(kDescriptionUrl), text.data(), static_cast<uint32_t>(text.size()), 0), 0);
        list.Finish(kDescriptionUrl, 1);
        ASSERT_EQ(list.GetRecordCount(), 1u);
        CDownloadFile* record = list.FindNext();
        EXPECT_EQ(record->GetUrl(), c.expectUrl);
        EXPECT_EQ(record->GetFolder(), paths.GetEngineFolder());
        EXPECT_EQ(record->GetName(), "ZDRDownloadV32.exe");
        EXPECT_EQ(record->GetSha256(), std::string(64, 'b'));
    }
}

TEST_F(UpdateDescriptionHandlerTest, SignedDescriptionRecord)
{
    FolderPaths paths(m_base);
    InstallEngine(paths);
    CUpdateDescriptionHandler handler(&paths);
    const std::string text = Description("1.0.0.10", 2);
    const std::string good = SignEd25519(ReadText(ZDR_DEMO_SIGNING_KEY), text.data(), text.size());
    ASSERT_EQ(good.size(), kEd25519SignatureSize);
    std::string flipped = good;
    flipped[10] = static_cast<char>(flipped[10] ^ 1);
    const std::string changed = Description("1.0.0.11", 2);
    struct Case {
        const char* label;
        std::string signature;
        std::string description;
        int result;
    } cases[] = {
        {"matching", good, text, 0},
        {"another signature", flipped, text, 3},
        {"changed after signing", good, changed, 3},
        {"short signature", good.substr(0, 63), text, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CDownloadFileList list(&handler, &paths);
        ASSERT_EQ(list.AddRecord(kDescriptionUrl, kSignatureUrl, nullptr, nullptr), 1);
        CDownloadFile* record = list.FindNext();
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(record->IsDescription());
        std::string url;
        record->GetTransferUrl(url);
        EXPECT_EQ(url, kSignatureUrl); // the signature comes first
        EXPECT_EQ(record->Classify(kSignatureUrl), IProgressFile::kTransferDigestList);
        int kind = 0;
        EXPECT_EQ(record->Receive(kSignatureUrl, c.signature.data(), static_cast<uint32_t>(c.signature.size()), 0, &kind), 0);
        EXPECT_EQ(kind, IProgressFile::kTransferDigestList);
        EXPECT_EQ(record->IsStageEnd(), 0);
        record->GetTransferUrl(url);
        EXPECT_EQ(url, kDescriptionUrl);
        EXPECT_EQ(record->Classify(kDescriptionUrl), IProgressFile::kTransferDescription);
        EXPECT_EQ(record->Receive(kDescriptionUrl, c.description.data(), static_cast<uint32_t>(c.description.size()), 0,
                                  &kind),
                  c.result);
        EXPECT_EQ(kind, IProgressFile::kTransferDescription);
        // A rejected description never reached the list: no version.
        EXPECT_EQ(list.GetVersion().empty(), c.result != 0);
    }
}

TEST(UpdateDescriptionUrl, EnvironmentOverridesTheBuildsHost)
{
    const std::string path = "/ostrel/zdrdownload/update/v3_32/zdrdownload_updater.xml";
    setenv("ZDR_UPDATE_HOST", "127.0.0.1:18081", 1);
    EXPECT_EQ(UpdateDescriptionUrl(), "http://127.0.0.1:18081" + path);
    setenv("ZDR_UPDATE_HOST", "", 1);
    const std::string built = UpdateDescriptionUrl();
    unsetenv("ZDR_UPDATE_HOST");
    EXPECT_EQ(UpdateDescriptionUrl(), built);
    EXPECT_EQ(built, "http://" + UpdateHost() + path);
    EXPECT_FALSE(UpdateHost().empty());
}
