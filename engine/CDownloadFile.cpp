#include "engine/CDownloadFile.h"

#include "engine/ActivityLog.h"
#include "engine/IExtractAction.h"
#include "engine/UpdateSignature.h"

namespace {

// CDownloadFileList's answer for a description it does not accept.
constexpr int kDescriptionRejected = 3;

std::string Text(const char* text)
{
    return text ? text : "";
}

} // namespace

CDownloadFile::CDownloadFile(IDownloadFileEventListener* listener, const char* url, const char* digestUrl,
                             const char* name, const char* folder)
    : m_listener(listener)
    , m_url(Text(url))
    , m_digestUrl(Text(digestUrl))
    , m_folder(Text(folder))
    , m_name(Text(name))
    , m_attemptsLeft(m_url.empty() ? 0 : kAttempts)
{
    if (!m_digestUrl.empty()) m_digestList = std::make_unique<std::vector<unsigned char>>();
}

CDownloadFile::~CDownloadFile() = default;

int CDownloadFile::GetTransferUrl(std::string& url)
{
    url = GetKey();
    return 1;
}

int CDownloadFile::IsStageEnd()
{
    return m_lastKind == kTransferDigestList ? 0 : 1;
}

int CDownloadFile::Receive(const char* url, const void* data, uint32_t sizeLow, int32_t sizeHigh, int* kind)
{
    const int64_t size = IExtractAction::JoinSize(sizeLow, sizeHigh);
    if (!url || !data || size <= 0) return kReceiveBadArguments;
    auto report = [&](int transferKind) {
        m_lastKind = transferKind;
        if (kind) *kind = transferKind;
    };
    if (IsDescription() && m_url == url) {
        report(kTransferDescription);
        if (m_digestList &&
            !VerifyUpdateSignature(data, static_cast<size_t>(size), m_digestList->data(), m_digestList->size())) {
            LogPrintf("[MeshpullLib] Update Rejected (URL: %s)(signature does not match)", url);
            return kDescriptionRejected;
        }
        return m_listener->OnDescription(this, data, sizeLow, sizeHigh);
    }
    if (m_digestUrl != url) {
        if (m_url != url) return kReceiveNotMine;
        report(kTransferFileData);
        return m_listener->OnFileData(this, m_digestList.get(), data, sizeLow, sizeHigh);
    }
    report(kTransferDigestList);
    if (!m_digestList) return kReceiveNotMine;
    m_digestUrl.clear();
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    m_digestList->assign(bytes, bytes + size);
    return kReceiveDigestListHeld;
}

int CDownloadFile::Classify(const char* url)
{
    if (!url || !*url) return kTransferNotMine;
    if (m_digestUrl == url) return kTransferDigestList;
    if (IsDescription()) return m_url == url ? kTransferDescription : kTransferNotMine;
    if (m_url == url) return kTransferFileData;
    return kTransferNotMine;
}

bool CDownloadFile::TakeAttempt()
{
    if (m_unlimited) return true;
    return --m_attemptsLeft >= 0;
}
