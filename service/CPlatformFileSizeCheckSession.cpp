#include "service/CPlatformFileSizeCheckSession.h"

#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/layers/ConnectionOpener.h"
#include "netlib/layers/HttpConnection.h"
#include "netlib/layers/nwCHttpClientExLayer.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/cpCQoSContextAction.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "platform/FileSystem.h"
#include "engine/ActivityLog.h"
#include "service/HttpTransferRules.h"

#include <atomic>

namespace {

int64_t VolumeFreeSpace(const std::string& folder)
{
    return FreeDiskSpace(folder);
}

std::atomic<FreeSpaceFn> g_freeSpace{&VolumeFreeSpace};
} // namespace

void CPlatformFileSizeCheckSession::SetFreeSpaceSourceForTesting(FreeSpaceFn source)
{
    g_freeSpace.store(source ? source : &VolumeFreeSpace);
}

CPlatformFileSizeCheckSession::CPlatformFileSizeCheckSession() = default;

CPlatformFileSizeCheckSession::~CPlatformFileSizeCheckSession()
{
    DropConnection();
}

void CPlatformFileSizeCheckSession::SetListener(IPlatformFileSizeCheckSessionEventListener* listener, void* context)
{
    m_listener = listener;
    m_context = context;
}

void CPlatformFileSizeCheckSession::Begin(CJobFile* file)
{
    m_file = file;
    m_alternatives = SplitAlternatives(file->url);
    m_alternativeIndex = 0;
    m_currentUrl = m_alternatives.empty() ? std::string() : m_alternatives[0];
    m_redirectUrl.clear();
    m_attempts = 0;
    m_redirects = 0;
    Probe();
}

void CPlatformFileSizeCheckSession::Probe()
{
    // Each pass is one attempt; a connect that fails at once brings no event,
    // so the next attempt follows here.
    for (;;) {
        if (m_attempts >= kAttemptsPerUrl) {
            if (m_alternativeIndex + 1 >= m_alternatives.size()) {
                Fail(DL_NOTICE_DOWNLOAD_FAILED);
                return;
            }
            ++m_alternativeIndex;
            m_currentUrl = m_alternatives[m_alternativeIndex];
            m_redirectUrl.clear();
            m_attempts = 0;
            m_redirects = 0;
        }
        if (m_connection.Get() || Connect()) return;
    }
}

bool CPlatformFileSizeCheckSession::Connect()
{
    ++m_attempts;
    ConnectionOptions options;
    options.connectTimeoutSeconds = kTimeoutSeconds;
    options.idleSeconds = kTimeoutSeconds;
    options.receiveRound = kHeaderOnlyReceiveRound;
    options.listener = this;
    const std::string& target = m_redirectUrl.empty() ? m_currentUrl : m_redirectUrl;
    if (!OpenHttpConnection(options, target.c_str(), m_connection)) {
        m_reason = "NoConnection";
        const std::string why = nwCHttpClientExLayer::WhyUnusable(target.c_str());
        m_cause = why.empty() ? "the connection could not be started" : why;
        DropConnection();
        return false;
    }
    Layer()->SendGetRequest();
    return true;
}

void CPlatformFileSizeCheckSession::DropConnection()
{
    ReleaseHttpConnection(m_connection);
}

vqIHttpClientExLayer* CPlatformFileSizeCheckSession::Layer() const
{
    return HttpLayerOf(m_connection);
}

void CPlatformFileSizeCheckSession::Fail(int code)
{
    // The URL asked last, and why it gave no size.
    const std::string text = (m_redirectUrl.empty() ? m_currentUrl : m_redirectUrl) + ": " + m_cause;
    LogPrintf("[MeshpullLib] FileSize Check Failed(%d) reason:%s url:%s", code, m_reason.c_str(), text.c_str());
    m_listener->OnSizeFailed(m_context, code, text.c_str());
}


void CPlatformFileSizeCheckSession::OnResponseHeader(int32_t)
{
    vqIHttpClientExLayer* layer = Layer();
    int32_t status = 0;
    int64_t length = 0;
    layer->GetStatusCode(&status);
    const bool lengthUsable = VQ_SUCCEEDED(layer->GetContentLength(&length));
    const std::string next = RedirectTargetOf(layer, m_redirectUrl.empty() ? m_currentUrl : m_redirectUrl);
    const std::string statusText = StatusText(layer);
    // The header is all a probe needs; the body is never read.
    DropConnection();
    if (status == 200 && !lengthUsable) {
        // Two lengths, or one that is no number: this server cannot size it.
        m_reason = "BadLength";
        m_cause = statusText + " with an unusable Content-Length";
        m_attempts = kAttemptsPerUrl;
        Probe();
        return;
    }
    if (status == 200) {
        int64_t free = g_freeSpace.load()(m_file->folder);
        if (free < 0) free = 0;
        if (length > 0 && length < free) {
            m_file->size = length;
            m_listener->OnSizeKnown(m_context);
            return;
        }
        m_reason = length > 0 ? "NoRoom" : "NoLength";
        m_cause = length > 0 ? std::to_string(length) + " bytes, with " + std::to_string(free) + " bytes free in the folder"
                             : statusText + " without a Content-Length";
        Fail(length > 0 && length > free ? DL_NOTICE_DISK_FULL : DL_NOTICE_DOWNLOAD_FAILED);
        return;
    }
    if (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) {
        if (!next.empty() && ++m_redirects <= kMaxRedirects) {
            // Following a redirect is no failed attempt.
            m_redirectUrl = next;
            --m_attempts;
        } else {
            m_reason = next.empty() ? "NoLocation" : "TooManyRedirects";
            m_cause = next.empty() ? statusText + " without a usable Location"
                                   : "more than " + std::to_string(kMaxRedirects) + " redirects";
            m_attempts = kAttemptsPerUrl;
        }
    } else {
        m_reason = "ResCode:" + std::to_string(status);
        m_cause = statusText;
        // Not found, refused, failing: another try would answer the same;
        // the next alternative may have the file.
        m_attempts = kAttemptsPerUrl;
    }
    Probe();
}

int32_t CPlatformFileSizeCheckSession::OnReceiveData(int32_t, const unsigned char*, int32_t length)
{
    DropConnection();
    return length;
}

void CPlatformFileSizeCheckSession::OnReceiveComplete(int32_t) {}


void CPlatformFileSizeCheckSession::OnClosed(int32_t)
{
    // The layer has let go of this session already.
    vqSmartPtr connection = m_connection;
    m_connection.Assign(nullptr);
    vqCGarbageCollector::Instance()->Add(connection);
    m_reason = "Closed";
    const std::string tls = TlsFailureText(connection);
    m_cause = tls.empty() ? "the connection closed before the answer's header" : tls;
    Probe();
}

void CPlatformFileSizeCheckSession::OnConnectTimeout(int32_t)
{
    m_reason = "ConnectTimeout";
    m_cause = ConnectFailureText(m_connection, kTimeoutSeconds);
    DropConnection();
    Probe();
}

void CPlatformFileSizeCheckSession::OnRecvTimeout(int32_t)
{
    m_reason = "RecvTimeout";
    m_cause = "no answer for " + std::to_string(kTimeoutSeconds) + " s";
    DropConnection();
    Probe();
}

