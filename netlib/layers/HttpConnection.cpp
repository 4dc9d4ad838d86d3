#include "netlib/layers/HttpConnection.h"

#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/http/CodePageConversion.h"
#include "netlib/http/RedirectTarget.h"
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
