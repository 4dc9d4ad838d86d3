#include "netlib/http/nwCHTTPDownloader.h"

#include "netlib/core/vqCKeepAlive.h"
#include "netlib/core/cpCAutoLock.h"
#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/http/CodePageConversion.h"
#include "netlib/http/RedirectTarget.h"
#include "netlib/layers/ConnectionOpener.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/cpCQoS.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <cstring>
#include <vector>

namespace {

cpCMutex* NetworkLock()
{
    // The manager keeps its own reference on the lock.
    cpCQoS* manager = cpCQoS::Get();
    return manager ? manager->LockObject().As<cpCMutex>() : nullptr;
}


vqIHttpClientExLayer* HttpLayer(const vqSmartPtr& connection)
{
    auto* context = connection.As<vqIQoSContext>();
    return context ? static_cast<vqIHttpClientExLayer*>(context->GetTopLayer()) : nullptr;
}

} // namespace

// A sink may release the downloader from inside a report: every entry point
// that can report holds a vqCKeepAlive.

nwCHTTPDownloader::~nwCHTTPDownloader()
{
    cpCAutoLock lock(NetworkLock());
    m_sink = nullptr;
    while (!m_records.empty()) Finish(m_records.back().get(), Report::None);
}

vqRESULT nwCHTTPDownloader::SetSink(nwIHTTPDownloadSink* sink)
{
    cpCAutoLock lock(NetworkLock());
    m_sink = sink;
    return VQ_OK_NETWORK;
}

vqRESULT nwCHTTPDownloader::Download(int32_t id, const char* url, int32_t value)
{
    cpCAutoLock lock(NetworkLock());
    vqCKeepAlive<nwCHTTPDownloader> keep(this);
    Start(id, url ? url : "", value, 0, 0);
    return VQ_OK_NETWORK;
}

vqRESULT nwCHTTPDownloader::Cancel(int32_t id)
{
    cpCAutoLock lock(NetworkLock());
    std::vector<Record*> cancelled;
    for (auto it = m_records.rbegin(); it != m_records.rend(); ++it)
        if ((*it)->id == id) cancelled.push_back(it->get());
    for (Record* record : cancelled) Finish(record, Report::None);
    return VQ_OK_NETWORK;
}

vqRESULT nwCHTTPDownloader::CancelAll()
{
    cpCAutoLock lock(NetworkLock());
    while (!m_records.empty()) Finish(m_records.back().get(), Report::None);
    return VQ_OK_NETWORK;
}

void nwCHTTPDownloader::Start(int32_t id, const std::string& url, int32_t value, int32_t attempts, int32_t redirects)
{
    auto record = std::make_unique<Record>();
    record->key = m_nextKey++;
    if (m_nextKey <= 0) m_nextKey = 1;
    record->id = id;
    record->value = value;
    record->attempts = attempts;
    record->redirects = redirects;
    record->url = url;
    const int32_t key = record->key;
    Record* started = record.get();
    m_records.push_back(std::move(record));
    ConnectionOptions options;
    options.idleSeconds = kIdleLimitSeconds;
    options.listener = this;
    options.cookie = key;
    const bool connected = OpenHttpConnection(options, url.c_str(), started->connection);
    // The connect may have failed at once and ended the record already.
    Record* still = Find(key);
    if (!still) return;
    // This reference keeps the context alive through the send even if the
    // record is finished from inside it.
    const vqSmartPtr connection = still->connection;
    vqIHttpClientExLayer* layer = connected ? HttpLayer(connection) : nullptr;
    // A download that cannot even start (a URL of another scheme, a host
    // that does not resolve) would otherwise never be reported.
    if (!layer || VQ_FAILED(layer->SendGetRequest())) {
        if (Record* again = Find(key)) Finish(again, Report::Failed);
    }
}

nwCHTTPDownloader::Record* nwCHTTPDownloader::Find(int32_t key)
{
    for (const std::unique_ptr<Record>& record : m_records)
        if (record->key == key) return record.get();
    return nullptr;
}

void nwCHTTPDownloader::Finish(Record* record, Report report)
{
    const int32_t id = record->id;
    const int32_t value = record->value;
    vqSmartPtr connection = record->connection;
    for (auto it = m_records.begin(); it != m_records.end(); ++it) {
        if (it->get() != record) continue;
        m_records.erase(it);
        break;
    }
    if (auto* context = connection.As<vqIQoSContext>()) {
        if (vqIHttpClientExLayer* layer = HttpLayer(connection)) layer->SetEventListener(nullptr, 0);
        context->Close();
        // Its layers may be on the call stack right now.
        vqCGarbageCollector::Instance()->Add(connection);
    }
    if (!m_sink) return;
    if (report == Report::Failed) m_sink->OnDownloadFailed(id, value);
    else if (report == Report::Unreachable) m_sink->OnDownloadUnreachable(id, value);
}

void nwCHTTPDownloader::OnResponseHeader(int32_t cookie)
{
    vqCKeepAlive<nwCHTTPDownloader> keep(this);
    Record* record = Find(cookie);
    if (!record) return;
    vqIHttpClientExLayer* layer = HttpLayer(record->connection);
    int32_t status = 0;
    layer->GetStatusCode(&status);
    if (status == 200 || status == 206) {
        int64_t length = 0;
        layer->GetContentLength(&length);
        // The whole body is held in memory: a length beyond the limit is
        // refused before anything is allocated.
        if (length <= 0 || length > kMaxBodySize) {
            Finish(record, Report::Failed);
            return;
        }
        if (!record->buffer) {
            record->buffer.reset(new unsigned char[static_cast<size_t>(length)]());
            record->size = static_cast<int32_t>(length);
        }
        return;
    }
    if (status == 302 || status == 303) {
        const std::string target = [&] {
            vqCString location;
            vqCString converted;
            if (VQ_FAILED(layer->GetResponseHeader("Location:", &location))) return std::string();
            Utf8ToAnsi(location.GetString(), converted);
            return RedirectTarget(record->url, converted.GetString());
        }();
        const int32_t id = record->id;
        const int32_t value = record->value;
        const int32_t redirects = record->redirects + 1;
        if (target.empty() || redirects > kMaxRedirects) {
            Finish(record, Report::Failed);
            return;
        }
        Finish(record, Report::None);
        Start(id, target, value, 0, redirects);
        return;
    }
    Finish(record, Report::Failed);
}

int32_t nwCHTTPDownloader::OnReceiveData(int32_t cookie, const unsigned char* data, int32_t length)
{
    vqCKeepAlive<nwCHTTPDownloader> keep(this);
    Record* record = Find(cookie);
    if (!record) return length;
    if (!record->buffer) {
        Finish(record, Report::Failed);
        return length;
    }
    int32_t room = record->size - record->filled;
    const int32_t stored = length < room ? length : room;
    if (stored > 0) {
        memcpy(record->buffer.get() + record->filled, data, static_cast<size_t>(stored));
        record->filled += stored;
    }
    return length;
}

void nwCHTTPDownloader::OnReceiveComplete(int32_t cookie)
{
    vqCKeepAlive<nwCHTTPDownloader> keep(this);
    Record* record = Find(cookie);
    if (!record) return;
    if (!record->buffer) {
        Finish(record, Report::Failed);
        return;
    }
    const int32_t id = record->id;
    const int32_t value = record->value;
    const int32_t size = record->size;
    std::unique_ptr<unsigned char[]> body = std::move(record->buffer);
    Finish(record, Report::None);
    if (m_sink) m_sink->OnDownloaded(id, value, body.get(), size);
}

void nwCHTTPDownloader::OnClosed(int32_t cookie)
{
    vqCKeepAlive<nwCHTTPDownloader> keep(this);
    if (Record* record = Find(cookie)) Finish(record, Report::Failed);
}

void nwCHTTPDownloader::OnConnectTimeout(int32_t cookie)
{
    vqCKeepAlive<nwCHTTPDownloader> keep(this);
    if (Record* record = Find(cookie)) Finish(record, Report::Failed);
}

void nwCHTTPDownloader::OnRecvTimeout(int32_t cookie)
{
    vqCKeepAlive<nwCHTTPDownloader> keep(this);
    if (Record* record = Find(cookie)) Finish(record, Report::Failed);
}

void nwCHTTPDownloader::OnHostUnreach(int32_t cookie)
{
    vqCKeepAlive<nwCHTTPDownloader> keep(this);
    Record* record = Find(cookie);
    if (!record) return;
    const int32_t id = record->id;
    const int32_t value = record->value;
    const int32_t attempts = record->attempts + 1;
    const int32_t redirects = record->redirects;
    const std::string url = record->url;
    if (attempts < kMaxUnreachable) {
        Finish(record, Report::None);
        Start(id, url, value, attempts, redirects);
    } else {
        Finish(record, Report::Unreachable);
    }
}
