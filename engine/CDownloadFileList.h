#pragma once
// The engine update's list of files to fetch. Built from the update
// description (OnDescription, with IUpdateDescriptionHandler choosing what to
// replace), it hands out records for transfers (FindNext), drops them when
// done or out of attempts (Finish), verifies each file's data against its
// digest list (DigestList.h) and unpacks it (ExtractArchive.h).
//
// Verification is never dropped: a record created with a digest URL unpacks
// data only after the data matched the digest list it received; a failed
// fetch of the digest list is a failed attempt like any other, and the next
// attempt fetches the list again.
//
// A description older than the newest one accepted (UpdateSequence.h) is
// rejected before anything of it is read.
//
// The key of a record is its digest URL while that is set, else its URL;
// keys compare exactly.
//
// Contract: owned by the engine update and used on the service thread.
// Records returned by FindNext stay valid until Finish is called with their
// key or the list is destroyed.

#include "engine/CDownloadFile.h"
#include "engine/IDownloadFileEventListener.h"
#include "engine/IGetPath.h"
#include "engine/IUpdateDescriptionHandler.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CXMLElement;
class CXMLParserOstrel;

class CDownloadFileList : public IDownloadFileEventListener {
public:
    // OnDescription answers.
    enum DescriptionResult {
        kDescriptionOk = 0,
        kDescriptionNoData = 2,
        kDescriptionRejected = 3,
        kDescriptionNoEngineFolder = 7,
    };
    // OnFileData answers (besides the extraction's).
    enum FileDataResult {
        kFileDataOk = 0,
        kFileDataBadArguments = 2,
        kFileDataDigestMismatch = 4,
    };

    // handler: the engine update's reading of descriptions (not owned; null
    // rejects every description). paths: where the engine lives (not owned).
    explicit CDownloadFileList(IUpdateDescriptionHandler* handler, const IGetPath* paths = GetPathProvider());
    virtual ~CDownloadFileList();
    CDownloadFileList(const CDownloadFileList&) = delete;
    CDownloadFileList& operator=(const CDownloadFileList&) = delete;

    int OnDescription(CDownloadFile* record, const void* data, uint32_t sizeLow, int32_t sizeHigh) override;
    int OnFileData(CDownloadFile* record, const std::vector<unsigned char>* digestList, const void* data,
                   uint32_t sizeLow, int32_t sizeHigh) override;

    // Appends a record (1), unless url is null or a record with that key
    // exists (0). The other texts may be null or empty.
    int AddRecord(const char* url, const char* digestUrl, const char* name, const char* folder);
    // Claims the first record that is not busy and, unless unlimited, has an
    // attempt left (each claim uses one); null when none can be claimed.
    CDownloadFile* FindNext();
    void SetUnlimited(int unlimited);
    bool HasRecords() const { return !m_records.empty(); }
    size_t GetRecordCount() const { return m_records.size(); }
    // The record whose key is key, or null.
    CDownloadFile* FindRecord(const char* key) const;
    // Ends an attempt of the record whose key is url: it is released, and
    // removed when the attempt succeeded or it has no attempt left.
    void Finish(const char* url, int success);
    // The version named by the last description that was accepted.
    const std::string& GetVersion() const { return m_version; }

    // The archive kind named by the extension of a URL (ExtractArchive.h):
    // the text after the last '.', compared without letter case; "7z" and
    // "zip" are kinds, anything else (also no '.', or a '.' only at the very
    // start) is none.
    static int ArchiveKindOf(const std::string& url);

private:
    int AddDescribedFiles(const CXMLParserOstrel& description, const std::vector<std::string>& files);
    // One record from a file's (or the package's) element: 3 without url or
    // without a well-formed sha256.
    int AddDescribedRecord(const CXMLParserOstrel& description, const CXMLElement* element, const std::string& name,
                           const std::string& folder);

    std::vector<std::unique_ptr<CDownloadFile>> m_records;
    std::string m_version;
    IUpdateDescriptionHandler* m_handler;
    const IGetPath* m_paths;
};
