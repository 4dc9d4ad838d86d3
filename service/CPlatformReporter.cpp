#include "service/CPlatformReporter.h"

#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/ConnectionOpener.h"
#include "netlib/layers/vqIAgentLayer.h"
#include "netlib/runtime/cpADDRESS.h"
#include "netlib/runtime/cpCAddressCache.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "engine/ActivityLog.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifndef ZDR_AGENT_HOST_DEFAULT
#error "ZDR_AGENT_HOST_DEFAULT comes from the build's ZDR_AGENT_HOST setting"
#endif

namespace {
constexpr int32_t kConnectTimeoutSeconds = 5;
constexpr int32_t kIdleSeconds = 5;
} // namespace

CPlatformReporter::CPlatformReporter() = default;

CPlatformReporter::~CPlatformReporter()
{
    Drop();
    // What could not go is at least kept where someone can find it.
    for (const std::vector<unsigned char>& report : m_queue) {
        int32_t count = 0;
        memcpy(&count, report.data(), 4);
        for (int32_t i = 0; i < count; ++i) {
            const unsigned char* entry = report.data() + 4 + size_t(i) * kAgentEntrySize;
            int64_t bytes = 0;
            memcpy(&bytes, entry + kEntryBytesOffset, sizeof bytes);
            LogPrintf("[MeshpullLib] Report Lost : %.32s %.255s %lld", reinterpret_cast<const char*>(entry),
                      reinterpret_cast<const char*>(entry + kEntryUrlOffset), static_cast<long long>(bytes));
        }
    }
}

void CPlatformReporter::Flush()
{
    if (!m_queue.empty() && !m_connection.Get()) Connect();
}

void CPlatformReporter::AgentEndpoint(std::string* host, int32_t* port)
{
    const char* configured = getenv("ZDR_AGENT_HOST");
    std::string value = configured && configured[0] ? configured : ZDR_AGENT_HOST_DEFAULT;
    *port = kAgentPort;
    const size_t colon = value.rfind(':');
    if (colon != std::string::npos) {
        const int parsed = atoi(value.c_str() + colon + 1);
        if (parsed > 0 && parsed <= 65535) *port = parsed;
        value.resize(colon);
    }
    *host = value;
}

void CPlatformReporter::AppendEntry(std::vector<unsigned char>* entries, const char* serviceId, const std::string& url,
                                    int64_t bytes)
{
    unsigned char entry[kAgentEntrySize] = {};
    memcpy(entry, serviceId, strnlen(serviceId, kEntryIdLength));
    memcpy(entry + kEntryUrlOffset, url.data(), std::min(url.size(), kEntryUrlLength));
    memcpy(entry + kEntryBytesOffset, &bytes, sizeof bytes);
    entry[kEntryFlagOffset] = 1;
    entries->insert(entries->end(), entry, entry + kAgentEntrySize);
}

bool CPlatformReporter::ReportsOff()
{
    const char* off = getenv("ZDR_NO_REPORT");
    return off && off[0] && strcmp(off, "0") != 0;
}

void CPlatformReporter::Enqueue(int32_t count, const unsigned char* entries)
{
    if (count < 0 || (count > 0 && !entries)) return;
    if (ReportsOff()) {
        LogPrintf("[MeshpullLib] Report off (ZDR_NO_REPORT): %d entries not sent", count);
        return;
    }
    std::vector<unsigned char> report(4 + size_t(count) * kAgentEntrySize);
    memcpy(report.data(), &count, 4);
    if (count > 0) memcpy(report.data() + 4, entries, size_t(count) * kAgentEntrySize);
    m_queue.push_back(std::move(report));
    if (m_queue.size() > kMaxQueued) {
        m_queue.pop_front();
        LogWrite("[MeshpullLib] CPlatformReporter queue full, oldest report dropped");
    }
    if (!Connect()) SendAll();
}

bool CPlatformReporter::Connect()
{
    if (m_connection.Get()) return false;
    std::string host;
    int32_t port = 0;
    AgentEndpoint(&host, &port);
    uint32_t ip = 0;
    if (!cpCAddressCache::Instance().GetAddress(host.c_str(), port, &ip)) return false;
    ConnectionOptions options;
    options.connectTimeoutSeconds = kConnectTimeoutSeconds;
    options.idleSeconds = kIdleSeconds;
    options.layerClass = CLSID_nwCAgentLayer;
    vqSmartPtr connection;
    if (!OpenConnection(options, connection)) {
        DiscardConnection(connection);
        return false;
    }
    auto* context = connection.As<vqIQoSContext>();
    const cpADDRESS address{ip, static_cast<uint16_t>(port)};
    context->SetHostName(host.c_str());
    context->SetAddress(address);
    m_connection = connection;
    Layer()->SetEventListener(this, 0);
    context->Connect(address);
    return true;
}

void CPlatformReporter::SendAll()
{
    // Without a connection the reports wait for the next one.
    vqIAgentLayer* layer = Layer();
    if (!layer) return;
    while (!m_queue.empty()) {
        std::vector<unsigned char> report = std::move(m_queue.front());
        m_queue.pop_front();
        int32_t count;
        memcpy(&count, report.data(), 4);
        layer->SendReport(vqAGENTREPORT{count, report.data() + 4});
        m_sent.push_back(std::move(report));
    }
}

vqIQoSContext* CPlatformReporter::Context() const
{
    return m_connection.As<vqIQoSContext>();
}

vqIAgentLayer* CPlatformReporter::Layer() const
{
    vqIQoSContext* context = Context();
    return context ? static_cast<vqIAgentLayer*>(context->GetTopLayer()) : nullptr;
}

void CPlatformReporter::Drop()
{
    if (!m_connection.Get()) return;
    vqSmartPtr connection = m_connection;
    m_connection.Assign(nullptr);
    // Unanswered reports go out again with the next connection.
    while (!m_sent.empty()) {
        m_queue.push_front(std::move(m_sent.back()));
        m_sent.pop_back();
    }
    if (vqIQoSContext* context = connection.As<vqIQoSContext>()) {
        if (auto* layer = static_cast<vqIAgentLayer*>(context->GetTopLayer())) layer->SetEventListener(nullptr, 0);
        context->Close();
    }
    vqCGarbageCollector::Instance()->Add(connection);
}

void CPlatformReporter::OnAgentConnected(int32_t)
{
    if (Context()) Context()->MarkAddressGood();
    SendAll();
}

void CPlatformReporter::OnAgentReply(int32_t, uint8_t)
{
    if (!m_sent.empty()) m_sent.pop_front();
    if (m_queue.empty() && m_sent.empty() && Context()) Context()->Close();
}

void CPlatformReporter::OnAgentClosed(int32_t)
{
    Drop();
}

void CPlatformReporter::OnAgentConnectTimeout(int32_t)
{
    if (Context()) Context()->Close();
}

void CPlatformReporter::OnAgentRecvTimeout(int32_t)
{
    if (Context()) Context()->Close();
}
