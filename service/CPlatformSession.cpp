#include "service/CPlatformSession.h"

#include "netlib/core/vqCGarbageCollector.h"
#include "service/HttpConnection.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/vqIAgentLayer.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/cpCQoSContextAction.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "platform/FileSystem.h"
#include "service/ActivityLog.h"
#include "service/HttpTransferRules.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr uint32_t kEventMask = QOS_EVENT_CONNECT_TIMEOUT | QOS_EVENT_IDLE;
constexpr size_t kReportUrlLength = 255;

bool IsRetriedStatus(int32_t status)
{
    // Answers that may differ on the next try; any other refusal stays.
    return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

bool IsRedirect(int32_t status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}
} // namespace

CPlatformSession::CPlatformSession() = default;

CPlatformSession::~CPlatformSession()
{
    *m_alive = false;
    DropConnection();
    // What arrived stays on disk: a later transfer resumes from it.
    m_output.Close();
}

void CPlatformSession::SetListener(IPlatFormSessionEventListener* listener, void* context)
{
    m_listener = listener;
    m_context = context;
}

void CPlatformSession::Begin(const std::vector<std::unique_ptr<CJobFile>>& files)
{
    m_copies.clear();
    m_bytesPresent = 0;
    m_copies.reserve(files.size());
    for (const auto& file : files) {
        FileCopy copy;
        copy.file = *file;
        copy.file.size = 0;
        copy.file.bytesDone = 0;
        copy.file.startOffset = 0;
        m_copies.push_back(copy);
    }
    if (m_copies.empty()) {
        m_current = nullptr;
        m_listener->OnAllFilesDone(m_context);
        return;
    }
    SelectFile(0);
    StartTransfer(false);
}

const CJobFile* CPlatformSession::GetCurrentFile() const
{
    return m_current ? &m_current->file : nullptr;
}

int32_t CPlatformSession::ListTransferredFiles(std::vector<unsigned char>* entries) const
{
    int32_t count = 0;
    for (const FileCopy& copy : m_copies) {
        if (copy.transferred <= 0) continue;
        ++count;
        if (!entries) continue;
        unsigned char entry[kAgentEntrySize] = {};
        memcpy(entry, copy.file.serviceId, sizeof copy.file.serviceId);
        entry[32] = 0;
        memcpy(entry + 33, copy.file.url.data(), std::min(copy.file.url.size(), kReportUrlLength));
        const int64_t bytes = copy.transferred;
        memcpy(entry + 289, &bytes, sizeof bytes);
        entry[297] = 1;
        entries->insert(entries->end(), entry, entry + kAgentEntrySize);
    }
    return count;
}

void CPlatformSession::SelectFile(size_t index)
{
    m_fileIndex = index;
    m_current = &m_copies[index];
    m_alternatives = SplitAlternatives(m_current->file.url);
    m_alternativeIndex = 0;
    m_currentUrl = m_alternatives.empty() ? std::string() : m_alternatives[0];
    m_redirects = 0;
}

bool CPlatformSession::NextAlternative()
{
    if (m_alternativeIndex + 1 >= m_alternatives.size()) return false;
    ++m_alternativeIndex;
    m_currentUrl = m_alternatives[m_alternativeIndex];
    m_attempts = 0;
    m_redirects = 0;
    return true;
}

void CPlatformSession::StartTransfer(bool resetAttempts)
{
    if (resetAttempts) m_attempts = 0;
    const std::shared_ptr<bool> alive = m_alive;
    // Each pass is one attempt; a connect that fails at once brings no event,
    // so the next attempt follows here.
    for (;;) {
        if (!OpenOutput()) {
            LogPrintf("[MeshpullLib] WriteFileOpen Failed : %s", m_currentUrl.c_str());
            GiveUp();
            return;
        }
        m_listener->OnFileOpened(m_context, m_currentPath.c_str());
        if (!*alive) return;
        if (m_connection.Get() || Connect()) return;
        if (!CloseOutput()) return;
        if (m_attempts >= kAttemptsPerUrl && !NextAlternative()) {
            LogPrintf("[MeshpullLib] TryMax Over : %s", m_currentUrl.c_str());
            GiveUp();
            return;
        }
    }
}

bool CPlatformSession::OpenOutput()
{
    FileCopy& copy = *m_current;
    std::string folder = copy.file.folder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    const std::string path = folder + copy.file.name;
    if (!IsSafeFileName(copy.file.name)) {
        LogPrintf("[MeshpullLib] CreateFile Failed(%d) : %s", EINVAL, path.c_str());
        return false;
    }
    // A folder that cannot be made shows as the open failing.
    CreateDirectoryChain(folder);
    if (!m_output.Open(path)) {
        LogPrintf("[MeshpullLib] CreateFile Failed(%d) : %s", m_output.LastError(), path.c_str());
        return false;
    }
    m_currentPath = path;
    // What the file holds now replaces what was counted for it before.
    m_bytesPresent -= copy.file.bytesDone + copy.file.startOffset;
    copy.file.bytesDone = 0;
    copy.file.startOffset = m_output.Length();
    m_bytesPresent += copy.file.startOffset;
    return true;
}

bool CPlatformSession::Connect()
{
    ++m_attempts;
    vqSmartPtr connection;
    if (!connection.CreateInstance(CLSID_cpCQoSContext)) return false;
    auto* context = connection.As<vqIQoSContext>();
    const int32_t budget = m_mode != 0 ? kBudgetFast : kBudgetSlow;
    const bool ready = VQ_SUCCEEDED(context->Open(cpQOS_OWN, kEventMask, nullptr)) &&
                       VQ_SUCCEEDED(context->AddLayer(CLSID_nwCHttpClientExLayer, false)) &&
                       VQ_SUCCEEDED(context->SetAction(cpQOS_OWN_RECEIVE_ONLY));
    m_connection = connection;
    if (!ready) {
        DropConnection();
        return false;
    }
    context->SetParam(QOS_PARAM_CONNECT_TIMEOUT, &kTimeoutSeconds);
    context->SetParam(QOS_PARAM_IDLE_LIMIT, &kTimeoutSeconds);
    context->SetActionLimit(cpQOS_LIMIT_RECEIVE, &budget);
    vqIHttpClientExLayer* layer = Layer();
    layer->SetEventListener(this, 0);
    if (VQ_FAILED(layer->Connect(m_currentUrl.c_str()))) {
        DropConnection();
        return false;
    }
    char range[48];
    snprintf(range, sizeof range, "bytes=%lld-", m_current->file.startOffset);
    layer->SetRequestHeader("Range", range);
    layer->SendGetRequest();
    return true;
}

void CPlatformSession::DropConnection()
{
    ReleaseHttpConnection(m_connection);
}

bool CPlatformSession::CloseOutput()
{
    if (m_output.Close()) {
        m_currentPath.clear();
        return true;
    }
    WriteFailed();
    return false;
}

void CPlatformSession::WriteFailed()
{
    LogPrintf("[MeshpullLib] WriteFile Failed(%d) : %s", m_output.LastError(), m_currentPath.c_str());
    m_output.Discard();
    m_currentPath.clear();
    DropConnection();
    // The file lacks data: it must not be reported done.
    const std::shared_ptr<bool> alive = m_alive;
    const std::string url = m_currentUrl;
    m_listener->OnNotice(m_context, 513, url.c_str());
    if (*alive) m_listener->OnTransferFailed(m_context, url.c_str());
}

void CPlatformSession::GiveUp()
{
    const std::string url = m_currentUrl;
    m_listener->OnTransferFailed(m_context, url.c_str());
}

void CPlatformSession::RestartFromZero()
{
    FileCopy& copy = *m_current;
    m_bytesPresent -= copy.file.startOffset + copy.file.bytesDone;
    copy.file.startOffset = 0;
    copy.file.bytesDone = 0;
}

void CPlatformSession::AttemptFailed()
{
    if (!CloseOutput()) return;
    if (m_attempts >= kAttemptsPerUrl && !NextAlternative()) {
        LogPrintf("[MeshpullLib] TryMax Over : %s", m_currentUrl.c_str());
        GiveUp();
        return;
    }
    StartTransfer(false);
}

void CPlatformSession::GiveUpAlternative()
{
    m_attempts = kAttemptsPerUrl;
    AttemptFailed();
}

void CPlatformSession::FollowRedirect()
{
    const std::string target = RedirectTargetOf(Layer(), m_currentUrl);
    DropConnection();
    if (target.empty()) {
        if (!CloseOutput()) return;
        LogPrintf("[MeshpullLib] eNWHSC_HTTP_SEEOTHER  : %s", m_currentUrl.c_str());
        GiveUp();
        return;
    }
    if (++m_redirects > kMaxRedirects) {
        GiveUpAlternative();
        return;
    }
    m_currentUrl = target;
    if (!CloseOutput()) return;
    StartTransfer(true);
}

void CPlatformSession::FinishFile()
{
    FileCopy* finished = m_current;
    DropConnection();
    if (!CloseOutput()) return;
    const size_t next = m_fileIndex + 1;
    if (next < m_copies.size()) {
        SelectFile(next);
    } else {
        m_fileIndex = next;
        m_current = nullptr;
    }
    const std::shared_ptr<bool> alive = m_alive;
    m_listener->OnFileDone(m_context, finished->file);
    if (!*alive) return;
    if (m_current) StartTransfer(true);
    else m_listener->OnAllFilesDone(m_context);
}

vqIQoSContext* CPlatformSession::Context() const
{
    return m_connection.As<vqIQoSContext>();
}

vqIHttpClientExLayer* CPlatformSession::Layer() const
{
    return HttpLayerOf(m_connection);
}

std::string CPlatformSession::Header(const char* name) const
{
    vqCString value;
    if (VQ_FAILED(Layer()->GetResponseHeader(name, &value))) return std::string();
    return value.GetString();
}

void CPlatformSession::OnConnected(int32_t) {}

void CPlatformSession::OnResponseHeader(int32_t)
{
    vqIHttpClientExLayer* layer = Layer();
    int32_t status = 0;
    int64_t length = 0;
    layer->GetStatusCode(&status);
    layer->GetContentLength(&length);
    // Without a length the end of the body cannot be told from a cut.
    const bool hasLength = !Header("Content-Length").empty();
    CJobFile& file = m_current->file;
    int64_t first = 0;
    int64_t last = 0;
    int64_t total = 0;
    if (status == 200 && hasLength) {
        if (file.startOffset > 0) {
            // The server sends the whole file: start it again.
            if (!m_output.Truncate()) {
                WriteFailed();
                return;
            }
            RestartFromZero();
        }
        file.size = length;
        if (length == 0) FinishFile();
        return;
    }
    if (status == 206 && hasLength && length > 0 && ParseContentRange(Header("Content-Range").c_str(), &first, &last, &total) &&
        first == file.startOffset && last - first + 1 == length) {
        file.size = total >= 0 ? total : file.startOffset + length;
        return;
    }
    if (IsRedirect(status)) {
        FollowRedirect();
        return;
    }
    if (status == 416) {
        const bool parsed = ParseContentRange(Header("Content-Range").c_str(), &first, &last, &total);
        if (parsed ? total == file.startOffset : file.startOffset > 0) {
            // The file on disk is already whole.
            file.size = file.startOffset;
            FinishFile();
            return;
        }
        // What is on disk is not the start of this file: fetch all of it.
        DropConnection();
        if (!m_output.Truncate()) {
            WriteFailed();
            return;
        }
        RestartFromZero();
        AttemptFailed();
        return;
    }
    DropConnection();
    if (status == 200 || status == 206 || IsRetriedStatus(status)) AttemptFailed();
    else GiveUpAlternative();
}

int32_t CPlatformSession::OnReceiveData(int32_t, const unsigned char* data, int32_t length)
{
    if (!m_output.Write(data, static_cast<size_t>(length))) {
        WriteFailed();
        return length;
    }
    m_bytesPresent += length;
    m_current->file.bytesDone += length;
    m_current->transferred += length;
    m_listener->OnProgress(m_context);
    return length;
}

void CPlatformSession::OnReceiveComplete(int32_t)
{
    FinishFile();
}

void CPlatformSession::OnSendReady(int32_t) {}

void CPlatformSession::OnClosed(int32_t)
{
    // The layer has let go of this session already.
    vqSmartPtr connection = m_connection;
    m_connection.Assign(nullptr);
    vqCGarbageCollector::Instance()->Add(connection);
    AttemptFailed();
}

void CPlatformSession::OnConnectTimeout(int32_t)
{
    DropConnection();
    AttemptFailed();
}

void CPlatformSession::OnRecvTimeout(int32_t)
{
    DropConnection();
    AttemptFailed();
}

void CPlatformSession::OnHostUnreach(int32_t) {}
