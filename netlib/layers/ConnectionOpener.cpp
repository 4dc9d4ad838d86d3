#include "netlib/layers/ConnectionOpener.h"

#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/layers/HttpConnection.h"
#include "netlib/layers/vqIHttpClientExLayer.h"

bool OpenConnection(const ConnectionOptions& options, vqSmartPtr& connection)
{
    vqSmartPtr created;
    if (!created.CreateInstance(CLSID_cpCQoSContext)) return false;
    connection = created;
    auto* context = created.As<vqIQoSContext>();
    if (VQ_FAILED(context->Open(options.action, options.eventMask, nullptr))) return false;
    if (options.connectTimeoutSeconds > 0) context->SetParam(QOS_PARAM_CONNECT_TIMEOUT, &options.connectTimeoutSeconds);
    if (options.idleSeconds > 0) context->SetParam(QOS_PARAM_IDLE_LIMIT, &options.idleSeconds);
    if (options.receiveRound > 0) context->SetParam(QOS_PARAM_RECEIVE_ROUND, &options.receiveRound);
    if (VQ_FAILED(context->AddLayer(options.layerClass, false))) return false;
    if (options.laterAction && VQ_FAILED(context->SetAction(*options.laterAction))) return false;
    // The limit belongs to the action: it is set on the final one.
    if (options.receiveLimit) context->SetActionLimit(cpQOS_LIMIT_RECEIVE, &*options.receiveLimit);
    return true;
}

void DiscardConnection(vqSmartPtr& connection)
{
    if (!connection.Get()) return;
    vqSmartPtr discarded = connection;
    connection.Assign(nullptr);
    discarded.As<vqIQoSContext>()->Close();
    vqCGarbageCollector::Instance()->Add(discarded);
}

bool OpenHttpConnection(const ConnectionOptions& options, const char* url, vqSmartPtr& connection)
{
    if (!OpenConnection(options, connection)) return false;
    // The caller's member may be released inside Connect; this reference
    // keeps the layer alive until Connect returns.
    const vqSmartPtr held = connection;
    vqIHttpClientExLayer* layer = HttpLayerOf(held);
    if (!layer) return false;
    layer->SetEventListener(options.listener, options.cookie);
    return VQ_SUCCEEDED(layer->Connect(url));
}
