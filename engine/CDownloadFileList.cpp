#include "engine/CDownloadFileList.h"

#include "engine/DigestList.h"
#include "engine/ExtractArchive.h"
#include "engine/IExtractAction.h"
#include "engine/ActivityLog.h"
#include "engine/UpdateDescription.h"
#include "engine/UpdateSequence.h"
#include "engine/UpdateSignature.h"
#include "netlib/xml/CXMLParserOstrel.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsSha256Hex(const std::string& text)
{
    if (text.size() != 2 * kSha256Size) return false;
    for (char c : text)
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

CDownloadFileList::CDownloadFileList(IUpdateDescriptionHandler* handler, const IGetPath* paths)
    : m_handler(handler), m_paths(paths)
{
}

CDownloadFileList::~CDownloadFileList() = default;

int CDownloadFileList::AddRecord(const char* url, const char* digestUrl, const char* name, const char* folder)
{
    if (!url) return 0;
    const std::string key = digestUrl && *digestUrl ? digestUrl : url;
    if (FindRecord(key.c_str())) return 0;
    m_records.push_back(std::make_unique<CDownloadFile>(this, url, digestUrl, name, folder));
    return 1;
}

CDownloadFile* CDownloadFileList::FindRecord(const char* key) const
{
    if (!key) return nullptr;
    for (const auto& record : m_records)
        if (record->GetKey() == key) return record.get();
    return nullptr;
}

CDownloadFile* CDownloadFileList::FindNext()
{
    for (const auto& record : m_records) {
        if (record->IsBusy() || !record->TakeAttempt()) continue;
        record->SetBusy(true);
        return record.get();
    }
    return nullptr;
}

void CDownloadFileList::SetUnlimited(int unlimited)
{
    for (const auto& record : m_records) record->SetUnlimited(unlimited != 0);
}

void CDownloadFileList::Finish(const char* url, int success)
{
    CDownloadFile* record = FindRecord(url);
    if (!record) return;
    record->SetBusy(false);
    if (!success && record->GetAttemptsLeft() > 0) return;
    m_records.erase(std::find_if(m_records.begin(), m_records.end(),
                                 [record](const auto& held) { return held.get() == record; }));
}

int CDownloadFileList::ArchiveKindOf(const std::string& url)
{
    const size_t dot = url.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return kArchiveNone;
    std::string extension = url.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (extension == "7z") return kArchive7z;
    if (extension == "zip") return kArchiveZip;
    return kArchiveNone;
}

int CDownloadFileList::OnFileData(CDownloadFile* record, const std::vector<unsigned char>* digestList,
                                  const void* data, uint32_t sizeLow, int32_t sizeHigh)
{
    const int64_t size = IExtractAction::JoinSize(sizeLow, sizeHigh);
    if (!record || !data || size <= 0) return kFileDataBadArguments;
    if (digestList && !DigestListMatches(digestList->data(), digestList->size(),
                                         static_cast<const unsigned char*>(data), static_cast<size_t>(size)))
    {
        LogPrintf("[MeshpullLib] Digest Mismatch (URL: %s)(md4)", record->GetUrl().c_str());
        return kFileDataDigestMismatch;
    }
    if (!record->GetSha256().empty() && !SameSha256Hex(record->GetSha256(), Sha256Hex(data, static_cast<size_t>(size)))) {
        LogPrintf("[MeshpullLib] Digest Mismatch (URL: %s)(sha256)", record->GetUrl().c_str());
        return kFileDataDigestMismatch;
    }
    const int result = ExtractArchive(ArchiveKindOf(record->GetUrl()), data, sizeLow, sizeHigh,
                                      record->GetFolder().c_str());
    // The record names the program the package carries (the engine): it must
    // be runnable even when the archive stored no permissions.
    const std::string named = record->GetFolder() + record->GetName();
    if (result == kFileDataOk && !record->GetName().empty() && PathExists(named)) MakeExecutable(named);
    return result;
}

int CDownloadFileList::OnDescription(CDownloadFile* record, const void* data, uint32_t sizeLow, int32_t sizeHigh)
{
    const int64_t size = IExtractAction::JoinSize(sizeLow, sizeHigh);
    if (!data || size <= 0) return kDescriptionNoData;
    CXMLParserOstrel description;
    {
        const char* bytes = static_cast<const char*>(data);
        const std::string text(bytes, bytes + size);
        description.Load(text.c_str());
    }
    if (!CreateDirectoryChain(m_paths->GetEngineFolder())) return kDescriptionNoEngineFolder;
    if (!m_handler) return kDescriptionRejected;
    const std::string url = record ? record->GetUrl() : std::string();
    uint64_t sequence = 0;
    if (!ReadDescriptionSequence(description, &sequence)) {
        LogPrintf("[MeshpullLib] Update Rejected (URL: %s)(sequence not a number)", url.c_str());
        return kDescriptionRejected;
    }
    const std::string sequenceFile = m_paths->GetBaseFolder() + kUpdateSequenceFileName;
    const uint64_t accepted = LoadAcceptedSequence(sequenceFile);
    if (sequence < accepted) {
        LogPrintf("[MeshpullLib] Update Rejected (URL: %s)(sequence %llu older than %llu)", url.c_str(),
                  static_cast<unsigned long long>(sequence), static_cast<unsigned long long>(accepted));
        return kDescriptionRejected;
    }
    std::string version = m_handler->ReadNewVersion(description);
    if (version.empty()) return kDescriptionRejected;
    // Kept once the description is accepted, whether or not its files arrive:
    // nothing older may follow it either way.
    if (sequence > accepted && !StoreAcceptedSequence(sequenceFile, sequence))
        LogPrintf("[MeshpullLib] Update Sequence Not Kept (%s)", sequenceFile.c_str());
    m_version = std::move(version);
    return AddDescribedFiles(description, m_handler->ChooseFiles(description, m_version));
}

int CDownloadFileList::AddDescribedFiles(const CXMLParserOstrel& description, const std::vector<std::string>& files)
{
    const CXMLElement* root = description.GetRoot();
    const CXMLElement* listed = description.FindChild(root, kUpdateFilesElement);
    if (static_cast<int>(files.size()) == description.GetChildCount(listed)) {
        const CXMLElement* package =
            description.FindChild(description.FindChild(root, kUpdatePackageElement), kUpdatePackageElement);
        const std::string engine = m_paths->GetEngineExePath();
        const size_t slash = engine.find_last_of('/') + 1;
        return AddDescribedRecord(description, package, engine.substr(slash), engine.substr(0, slash));
    }
    for (const std::string& path : files) {
        if (path.empty()) continue;
        const size_t slash = path.find_last_of('/') + 1; // npos + 1 == 0: no folder
        const std::string name = path.substr(slash);
        const int result = AddDescribedRecord(description, description.FindChild(listed, name.c_str()), name,
                                              path.substr(0, slash));
        if (result != kDescriptionOk) return result;
    }
    return kDescriptionOk;
}

int CDownloadFileList::AddDescribedRecord(const CXMLParserOstrel& description, const CXMLElement* element,
                                          const std::string& name, const std::string& folder)
{
    const std::string url = ReadDescriptionAttribute(description, element, kUpdateUrlAttribute);
    if (url.empty()) return kDescriptionRejected;
    // The signed description names every file's SHA-256: the digest lists
    // come unsigned from the same server and prove nothing on their own.
    const std::string sha256 = ReadDescriptionAttribute(description, element, kUpdateSha256Attribute);
    if (!IsSha256Hex(sha256)) {
        LogPrintf("[MeshpullLib] Update Rejected (URL: %s)(no sha256)", url.c_str());
        return kDescriptionRejected;
    }
    const std::string digestUrl = ReadDescriptionAttribute(description, element, kUpdateHashAttribute);
    AddRecord(url.c_str(), digestUrl.c_str(), name.c_str(), folder.c_str());
    if (CDownloadFile* record = FindRecord(digestUrl.empty() ? url.c_str() : digestUrl.c_str()))
        record->SetSha256(sha256);
    return kDescriptionOk;
}
