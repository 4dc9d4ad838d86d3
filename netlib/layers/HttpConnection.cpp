#include "netlib/layers/HttpConnection.h"

#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/http/CodePageConversion.h"
#include "netlib/http/RedirectTarget.h"
#include "netlib/Lib_SSL/vqISecureSocketClientLayer.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <strings.h>

void ReleaseHttpConnection(vqSmartPtr& connection, bool markAddressFailed)
{
    if (!connection.Get()) return;
    vqSmartPtr released = connection;
    connection.Assign(nullptr);
    auto* context = released.As<vqIQoSContext>();
    if (markAddressFailed) context->MarkAddressFailed();
    if (vqIHttpClientExLayer* layer = HttpLayerOf(released)) layer->SetEventListener(nullptr, 0);
    context->Close();
    vqCGarbageCollector::Instance()->Add(released);
}

vqIHttpClientExLayer* HttpLayerOf(const vqSmartPtr& connection)
{
    auto* context = connection.As<vqIQoSContext>();
    return context ? static_cast<vqIHttpClientExLayer*>(context->GetTopLayer()) : nullptr;
}

std::string RedirectTargetOf(vqIHttpClientExLayer* layer, const std::string& currentUrl)
{
    vqCString location;
    vqCString converted;
    if (!layer || VQ_FAILED(layer->GetResponseHeader("Location:", &location))) return std::string();
    Utf8ToAnsi(location.GetString(), converted);
    return RedirectTarget(currentUrl, converted.GetString());
}

BodyCoding BodyCodingOf(vqIHttpClientExLayer* layer)
{
    vqCString coding;
    if (!layer || VQ_FAILED(layer->GetResponseHeader("Transfer-Encoding:", &coding))) return BodyCoding::kIdentity;
    std::string value = coding.GetString();
    const size_t first = value.find_first_not_of(" \t");
    const size_t last = value.find_last_not_of(" \t");
    value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    return strcasecmp(value.c_str(), "chunked") == 0 ? BodyCoding::kChunked : BodyCoding::kOther;
}

std::string ConnectFailureText(const vqSmartPtr& connection, int32_t timeoutSeconds)
{
    int32_t failure = QOS_CONNECT_NOT_FAILED;
    if (auto* context = connection.As<vqIQoSContext>()) context->GetConnectFailure(&failure);
    if (failure == QOS_CONNECT_REFUSED) return "connection refused";
    if (failure == QOS_CONNECT_UNREACHABLE) return "no route to the host";
    return "no connection within " + std::to_string(timeoutSeconds) + " s";
}

std::string TlsFailureText(const vqSmartPtr& connection)
{
    auto* context = connection.As<vqIQoSContext>();
    vqIUnknown* found = nullptr;
    if (!context || VQ_FAILED(context->FindLayer(CLSID_nwCSecureSocketClientLayer, &found)) || !found)
        return std::string();
    vqCString text;
    if (VQ_FAILED(static_cast<vqISecureSocketClientLayer*>(found)->GetFailureText(&text))) return std::string();
    return text.GetString();
}

std::string StatusText(vqIHttpClientExLayer* layer)
{
    vqCString header;
    if (!layer || VQ_FAILED(layer->GetResponseHeaderText(&header))) return "no HTTP answer";
    const std::string text = header.GetString();
    const size_t blank = text.find(' ');
    const size_t end = text.find_first_of("\r\n");
    std::string status = blank < end ? text.substr(blank + 1, end - blank - 1) : std::string();
    for (char& ch : status)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '?';
    // A status line is short; a longer one is cut rather than carried on.
    if (status.size() > 80) status.resize(80);
    return "HTTP " + status;
}
