#pragma once
// One record of the engine update's file list: the update description itself
// (a record with a URL only), or one engine file with the address of its
// data, optionally the address of its digest list, and the folder and name it
// unpacks to.
//
// A verified record first transfers its digest list (its key is the digest
// URL), which it keeps; the digest URL is then emptied, the key becomes the
// URL and the data is transferred and checked against the kept list. The
// record's list (CDownloadFileList) claims it for each attempt (busy) and
// counts its attempts.
//
// The update description's record may be signed: its "digest URL" is then
// the address of the description's Ed25519 signature, fetched first and
// held like a digest list; the description reaches the list only when the
// signature matches its exact bytes (UpdateSignature.h), else the record
// answers 3 (rejected) and logs why.
//
// A file record may carry the SHA-256 its data must have (SetSha256); the
// list checks it besides the digest list.
//
// Contract: owned by its CDownloadFileList; used on the service thread; see
// IProgressFile.h for the transfer's calls.

#include "engine/IDownloadFileEventListener.h"
#include "engine/IProgressFile.h"

#include <memory>
#include <string>
#include <vector>

class CDownloadFile : public IProgressFile {
public:
    static constexpr int kAttempts = 3;

    // Null texts count as empty. A record with a URL has kAttempts attempts;
    // one with a digest URL gets a holder for its digest list.
    CDownloadFile(IDownloadFileEventListener* listener, const char* url, const char* digestUrl, const char* name,
                  const char* folder);
    ~CDownloadFile() override;
    CDownloadFile(const CDownloadFile&) = delete;
    CDownloadFile& operator=(const CDownloadFile&) = delete;

    int GetTransferUrl(std::string& url) override;
    int IsStageEnd() override;
    int Receive(const char* url, const void* data, uint32_t sizeLow, int32_t sizeHigh, int* kind) override;
    int Classify(const char* url) override;

    // The digest URL while it is set, else the URL.
    const std::string& GetKey() const { return m_digestUrl.empty() ? m_url : m_digestUrl; }
    const std::string& GetUrl() const { return m_url; }
    const std::string& GetDigestUrl() const { return m_digestUrl; }
    const std::string& GetName() const { return m_name; }
    const std::string& GetFolder() const { return m_folder; }
    // The digest list held so far (empty until it arrived); null for a record
    // that is not verified.
    const std::vector<unsigned char>* GetDigestList() const { return m_digestList.get(); }
    // Whether the record stands for the update description (signed or not).
    bool IsDescription() const { return !m_url.empty() && m_folder.empty() && m_name.empty(); }
    // The lower-case hexadecimal SHA-256 the data must have; empty: none named.
    const std::string& GetSha256() const { return m_sha256; }
    void SetSha256(const std::string& sha256) { m_sha256 = sha256; }

    bool IsBusy() const { return m_busy; }
    void SetBusy(bool busy) { m_busy = busy; }
    bool IsUnlimited() const { return m_unlimited; }
    void SetUnlimited(bool unlimited) { m_unlimited = unlimited; }
    int GetAttemptsLeft() const { return m_attemptsLeft; }
    // Uses one attempt (unless unlimited); false when none was left.
    bool TakeAttempt();

private:
    IDownloadFileEventListener* m_listener;
    std::string m_url;
    std::string m_digestUrl;
    std::string m_folder;
    std::string m_name;
    std::string m_sha256;
    int m_lastKind = kTransferNotMine;
    std::unique_ptr<std::vector<unsigned char>> m_digestList;
    bool m_busy = false;
    bool m_unlimited = false;
    int m_attemptsLeft;
};
