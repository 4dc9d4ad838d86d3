#include "netlib/runtime/cpCQoSContext.h"

#include "netlib/core/vqCKeepAlive.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/runtime/cpCAddressCache.h"
#include "netlib/runtime/cpCQoS.h"
#include "netlib/runtime/cpCTimer.h"
#include "netlib/runtime/cpSocketFunctions.h"
#include "netlib/runtime/nwCStreamDispatcher.h"
#include "netlib/runtime/nwIQoSNetStack.h"

#include <cstring>
#include <type_traits>

cpCQoSContext::cpCQoSContext() = default;

cpCQoSContext::~cpCQoSContext()
{
    StopConnectTimer();
    // A context is closed before its last reference goes (the socket
    // manager holds one while registered); this only covers a failed Open.
    if (m_record) cpSocketClose(m_record);
    m_layers.clear();
    m_sendQueue.clear();
    FreeCurrentBuffer();
    FreeReceiveBuffer();
    m_action.reset();
    m_eventQueue.clear();
    m_frameDispatcher.Assign(nullptr);
}

vqRESULT cpCQoSContext::AddRef()
{
    m_refCount.fetch_add(1);
    return VQ_OK;
}

vqRESULT cpCQoSContext::Release()
{
    if (m_refCount.fetch_sub(1) == 1) delete this;
    return VQ_OK;
}

vqRESULT cpCQoSContext::QueryInterface(uint32_t interfaceId, void** out)
{
    if (m_layers.empty()) return VQ_E_NOINTERFACE;
    return m_layers.front().stack->QueryInterface(interfaceId, out);
}

vqRESULT cpCQoSContext::Open(int actionType, uint32_t eventMask, cpSocketRecord* record)
{
    if (m_state != QOS_CREATED) return VQ_E_PLATFORM;
    cpCQoS* manager = cpCQoS::Get();
    if (!manager) return VQ_E_PLATFORM;
    m_state = QOS_OPENING;
    m_eventMask = eventMask;
    const bool connectedAlready = record != nullptr;
    m_record = manager->RegisterContext(this, record);
    if (!m_record) {
        m_state = QOS_CREATED;
        return VQ_E_PLATFORM;
    }
    m_state = connectedAlready ? QOS_CONNECTED : QOS_OPEN;
    SetAction(actionType);
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::SetActionLimit(int direction, const int32_t* value)
{
    if (!m_action) return VQ_E_PLATFORM;
    m_action->SetLimit(direction, value);
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::SetAction(int actionType)
{
    if (m_action && m_action->GetType() == actionType) return VQ_OK_PLATFORM;
    m_action.reset(cpCQoSContextAction::Make(actionType));
    if (!m_action) return VQ_E_PLATFORM;
    m_action->Attach(m_record, &m_send, &m_receive);
    m_action->SetReceiveRound(m_receiveRound);
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::SetEventMask(uint32_t mask)
{
    m_eventMask = mask;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::AddEventMask(uint32_t bits)
{
    if ((m_eventMask & bits) == 0) m_eventMask |= bits;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::RemoveEventMask(uint32_t bits)
{
    m_eventMask &= ~bits;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::SetParam(int type, const int32_t* value)
{
    if (!value) return VQ_E_PLATFORM;
    switch (type) {
    case QOS_PARAM_CONNECT_TIMEOUT:
        m_connectTimeout = *value;
        return VQ_OK_PLATFORM;
    case QOS_PARAM_IDLE_LIMIT:
        m_idleLimit = *value;
        return VQ_OK_PLATFORM;
    case QOS_PARAM_RECEIVE_ROUND:
        if (*value < 0) return VQ_E_PLATFORM;
        m_receiveRound = static_cast<uint32_t>(*value);
        if (m_action) m_action->SetReceiveRound(m_receiveRound);
        return VQ_OK_PLATFORM;
    case QOS_PARAM_PERIODIC:
        m_periodic[0] = value[0] + m_totalTicks;
        for (int i = 1; i < 4; ++i) m_periodic[i] = value[i];
        return VQ_OK_PLATFORM;
    default:
        return VQ_E_PLATFORM;
    }
}

vqRESULT cpCQoSContext::GetState(int32_t* state)
{
    if (state) *state = m_state;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::Connect(const cpADDRESS& address)
{
    if (m_state != QOS_OPEN) return VQ_E_PLATFORM;
    m_state = QOS_CONNECTING;
    vqRESULT result = cpSocketConnect(m_record, address);
    if (VQ_SUCCEEDED(result)) {
        OnConnected();
    } else if (VQ_IS_WOULDBLOCK(result)) {
        StartConnectTimer();
    } else {
        m_state = QOS_CONNECT_FAILED;
        PostClose();
    }
    return VQ_OK_PLATFORM;
}

void cpCQoSContext::StartConnectTimer()
{
    StopConnectTimer();
    if (!m_connectTimer.CreateInstance(CLSID_cpCTimer)) return;
    cpCQoS* manager = cpCQoS::Get();
    m_connectTimer.As<cpCTimer>()->Start(static_cast<uint32_t>(m_connectTimeout) * 1000, &cpCQoSContext::OnConnectTimer,
                                         this, kConnectTimerTag, manager ? manager->LockObject() : vqSmartPtr());
}

void cpCQoSContext::StopConnectTimer()
{
    if (m_connectTimer.Get()) m_connectTimer.As<cpCTimer>()->Stop();
    m_connectTimer.Assign(nullptr);
}

void cpCQoSContext::OnConnectTimer(void* self)
{
    auto* context = static_cast<cpCQoSContext*>(self);
    context->m_connectFailure = QOS_CONNECT_TIMED_OUT;
    context->OnConnectFailed();
}

template <class Notify>
void cpCQoSContext::WalkUp(Notify notify)
{
    // A notification that answers reaches layers until one answers false; one
    // that does not answer reaches every layer. A layer may remove layers
    // while it runs: the first walk then ends, the second skips what is gone.
    constexpr bool kEveryLayer = std::is_void_v<std::invoke_result_t<Notify, nwIQoSNetStack*>>;
    for (size_t i = m_layers.size(); i-- > 0;) {
        if (i >= m_layers.size()) {
            if (kEveryLayer) continue;
            break;
        }
        if constexpr (kEveryLayer) notify(m_layers[i].stack);
        else if (!notify(m_layers[i].stack)) break;
    }
}

void cpCQoSContext::OnConnected()
{
    if (m_established) return;
    StopConnectTimer();
    m_established = true;
    m_state = QOS_CONNECTED;
    WalkUp([](nwIQoSNetStack* layer) { return layer->OnConnected(); });
    if (!Flush()) PostClose();
}

void cpCQoSContext::OnConnectFailed()
{
    // The socket's own report is a refusal; the timer and an unreachable
    // host have said theirs already.
    if (m_connectFailure == QOS_CONNECT_NOT_FAILED) m_connectFailure = QOS_CONNECT_REFUSED;
    m_state = QOS_CONNECT_FAILED;
    StopConnectTimer();
    if (m_record) QueueEvent(QOS_EVENT_CONNECT_TIMEOUT);
}

void cpCQoSContext::OnConnectUnreachable()
{
    m_connectFailure = QOS_CONNECT_UNREACHABLE;
    OnConnectFailed();
    WalkUp([](nwIQoSNetStack* layer) { return layer->OnUnreachable(); });
}

void cpCQoSContext::OnReadable()
{
    if (!m_record || !m_action) return;
    if (m_state != QOS_CONNECTED && m_state != QOS_SENDING && m_state != QOS_QUIET) return;
    m_idleTicks = 0;
    m_state = QOS_RECEIVING;
    const int32_t received = m_action->ReceivePump();
    if ((m_eventMask & QOS_MEASURE_RECEIVE) && received > 0) m_receiveRate.Add(static_cast<uint32_t>(received));
    if (m_state == QOS_RECEIVING) m_state = QOS_QUIET;
    if (received > 0) DeliverReceived();
}

void cpCQoSContext::DeliverReceived()
{
    if (m_state == QOS_CLOSING || m_state == QOS_CLOSED || m_receive.length == 0) return;
    vqCKeepAlive<cpCQoSContext> self(this);
    int32_t consumed;
    m_delivering = true;
    if (m_layers.empty()) {
        consumed = m_frameDispatcher.Get()
                       ? m_frameDispatcher.As<nwCStreamDispatcher>()->Feed(m_receive.data, m_receive.length)
                       : 0;
    } else {
        consumed = m_layers.back().stack->OnReceive(m_receive.data, m_receive.length);
    }
    m_delivering = false;
    if (m_state == QOS_CLOSING || m_state == QOS_CLOSED) {
        FreeReceiveBuffer();
        return;
    }
    if (consumed < 0 || static_cast<uint32_t>(consumed) > m_receive.length) {
        Close();
        return;
    }
    if (static_cast<uint32_t>(consumed) == m_receive.length) {
        // The storage stays for the next bytes: regrowing it from nothing on
        // every arrival cost more than the reads themselves.
        m_receive.length = 0;
        return;
    }
    // The unconsumed tail goes to the front, to be offered again with newer bytes.
    memmove(m_receive.data, m_receive.data + consumed, m_receive.length - static_cast<uint32_t>(consumed));
    m_receive.length -= static_cast<uint32_t>(consumed);
}

vqRESULT cpCQoSContext::Send(const vqBUFFER& buffer)
{
    if (m_state == QOS_CONNECT_FAILED || m_state == QOS_CLOSING || m_state == QOS_CLOSED) return VQ_OK_PLATFORM;
    if (!buffer.data || buffer.length == 0) return VQ_OK_PLATFORM;
    QueuedBuffer queued{std::unique_ptr<unsigned char[]>(new unsigned char[buffer.length]), buffer.length};
    memcpy(queued.data.get(), buffer.data, buffer.length);
    m_sendQueue.push_back(std::move(queued));
    LoadNextBuffer();
    if (!Flush()) PostClose();
    return VQ_OK_PLATFORM;
}

void cpCQoSContext::LoadNextBuffer()
{
    if (m_send.data) return;
    // The layers may queue more from inside the drained event.
    if (m_sendQueue.empty()) FanOut(QOS_EVENT_SEND_DRAINED, 0);
    if (m_send.data || m_sendQueue.empty()) return;
    QueuedBuffer next = std::move(m_sendQueue.front());
    m_sendQueue.pop_front();
    m_send.data = next.data.release();
    m_send.offset = 0;
    m_send.length = next.length;
}

void cpCQoSContext::FreeReceiveBuffer()
{
    delete[] m_receive.data;
    m_receive = cpQoSReceiveBuffer();
}

void cpCQoSContext::FreeCurrentBuffer()
{
    delete[] m_send.data;
    m_send = cpQoSSendBuffer();
}

bool cpCQoSContext::Flush()
{
    if (!m_record || !m_send.data || !m_action) return true;
    if (m_state != QOS_CONNECTED && m_state != QOS_RECEIVING && m_state != QOS_QUIET) return true;
    m_state = QOS_SENDING;
    bool ok = true;
    do {
        int32_t sent = 0;
        ok = m_action->SendPump(&sent);
        if ((m_eventMask & QOS_MEASURE_SEND) && sent > 0) m_sendRate.Add(static_cast<uint32_t>(sent));
        if (m_send.data && m_send.offset >= m_send.length) FreeCurrentBuffer();
        if (!ok || m_send.data) break; // a hard error, or the socket (or budget) is full
        LoadNextBuffer();
    } while (m_send.data);
    if (m_state == QOS_SENDING) m_state = QOS_QUIET;
    return ok;
}

void cpCQoSContext::OnWritable()
{
    LoadNextBuffer();
    if (!Flush()) PostClose();
}

vqRESULT cpCQoSContext::Close()
{
    if (m_state == QOS_CREATED || m_state == QOS_CLOSING || m_state == QOS_CLOSED) return VQ_OK_PLATFORM;
    vqCKeepAlive<cpCQoSContext> self(this);
    StopConnectTimer();
    m_state = QOS_CLOSING;
    if (m_record) {
        cpSocketRecord* record = m_record;
        m_record = nullptr;
        if (m_action) m_action->Attach(nullptr, &m_send, &m_receive);
        // Unregistering also closes the socket; without a manager (shut
        // down already) the socket is closed here.
        if (cpCQoS* manager = cpCQoS::Get()) manager->UnregisterContext(this, record);
        else cpSocketClose(record);
    }
    WalkUp([](nwIQoSNetStack* layer) { layer->OnClose(); });
    // Nothing is sent or delivered after a close; the context itself may
    // wait seconds in the collector, so its buffers go now.
    m_sendQueue.clear();
    FreeCurrentBuffer();
    // Bytes being delivered stay until their layer returns.
    if (!m_delivering) FreeReceiveBuffer();
    m_state = QOS_CLOSED;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::PostClose()
{
    QueueEvent(QOS_EVENT_CLOSE_REQUESTED);
    return VQ_OK_PLATFORM;
}

void cpCQoSContext::QueueEvent(int32_t code)
{
    m_eventQueue.push_back(code);
    cpSocketPostDeferred(m_record);
}

void cpCQoSContext::FanOut(uint32_t code, int32_t value)
{
    if ((m_eventMask & code) == 0) return;
    WalkUp([code, value](nwIQoSNetStack* layer) { return layer->OnEvent(code, value); });
}

void cpCQoSContext::OnDeferredEvent(cpSocketRecord* record)
{
    if (!record || record != m_record || m_eventQueue.empty()) return;
    const int32_t code = m_eventQueue.front();
    m_eventQueue.pop_front();
    switch (code) {
    case QOS_EVENT_IDLE:
        if (m_idleTicks < m_idleLimit || (m_eventMask & QOS_EVENT_IDLE) == 0) return;
        MarkAddressFailed();
        FanOut(QOS_EVENT_IDLE, 0);
        return;
    case QOS_EVENT_CONNECT_TIMEOUT:
        if (m_established) return;
        // A failed connect always ends the connection, so its owner learns
        // of it (through OnClose) even when it did not ask for the event.
        if (m_eventMask & QOS_EVENT_CONNECT_TIMEOUT) {
            MarkAddressFailed();
            FanOut(QOS_EVENT_CONNECT_TIMEOUT, 0);
        }
        Close();
        return;
    default:
        FanOut(static_cast<uint32_t>(code), 0);
        if (code == static_cast<int32_t>(QOS_EVENT_CLOSE_REQUESTED)) Close();
        return;
    }
}

void cpCQoSContext::OnSchedulerTick(uint32_t& receivedTotal, uint32_t& sentTotal)
{
    ++m_totalTicks;
    if (m_idleTicks == m_idleLimit && (m_eventMask & QOS_EVENT_IDLE)) QueueEvent(QOS_EVENT_IDLE);
    ++m_idleTicks;
    if (!m_action) return;
    m_action->CollectUsage(&receivedTotal, &sentTotal);
    // Both flags are taken: a connection whose receive budget runs out every
    // second must still have its send side re-armed.
    const bool receiveBlocked = m_action->TakeReceiveBlocked();
    const bool sendBlocked = m_action->TakeSendBlocked();
    if (receiveBlocked || sendBlocked) Rearm();
}

vqRESULT cpCQoSContext::AddLayer(uint32_t classId, bool atBottom)
{
    vqSmartPtr object;
    if (!object.CreateInstance(classId)) return VQ_E_PLATFORM;
    void* view = nullptr;
    if (!object.QueryInterface(IID_nwIQoSNetStack, &view) || !view) return VQ_E_PLATFORM;
    auto* stack = static_cast<nwIQoSNetStack*>(view);
    stack->SetContext(this);
    LayerEntry entry{object, stack, classId};
    if (atBottom) m_layers.push_back(std::move(entry));
    else m_layers.insert(m_layers.begin(), std::move(entry));
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::FindLayer(uint32_t classId, vqIUnknown** layer)
{
    for (const LayerEntry& entry : m_layers) {
        if (entry.classId != classId) continue;
        if (layer) *layer = entry.object.Get();
        return VQ_OK_PLATFORM;
    }
    return VQ_E_PLATFORM;
}

vqRESULT cpCQoSContext::Rearm()
{
    return m_record ? cpSocketRearm(m_record) : VQ_E_PLATFORM;
}

vqRESULT cpCQoSContext::RegisterFrameHandler(uint16_t type, uint32_t subtype, nwFrameCallback callback, void* userData)
{
    if (!m_frameDispatcher.Get() && !m_frameDispatcher.CreateInstance(CLSID_nwCStreamDispatcher)) return VQ_E_PLATFORM;
    return m_frameDispatcher.As<nwCStreamDispatcher>()->RegisterHandler(type, subtype, callback, userData);
}

vqRESULT cpCQoSContext::SetAddress(const cpADDRESS& address)
{
    m_address = address;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::GetAddress(const cpADDRESS** address)
{
    if (address) *address = &m_address;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::GetConnectFailure(int32_t* failure)
{
    if (failure) *failure = m_connectFailure;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::GetLocalAddress(cpADDRESS* address)
{
    return cpSocketGetLocalAddress(m_record, address);
}

vqIUnknown* cpCQoSContext::GetTopLayer()
{
    return m_layers.empty() ? nullptr : m_layers.front().object.Get();
}

int cpCQoSContext::LayerIndex(const nwIQoSNetStack* layer) const
{
    for (size_t i = 0; i < m_layers.size(); ++i)
        if (m_layers[i].stack == layer) return static_cast<int>(i);
    return -1;
}

vqRESULT cpCQoSContext::NotifyUpperConnected(nwIQoSNetStack* layer)
{
    const int index = LayerIndex(layer);
    if (index <= 0) return VQ_E_PLATFORM;
    m_layers[static_cast<size_t>(index) - 1].stack->OnConnected();
    return VQ_OK_PLATFORM;
}

int32_t cpCQoSContext::DeliverUp(nwIQoSNetStack* layer, const unsigned char* bytes, uint32_t length)
{
    const int index = LayerIndex(layer);
    if (index <= 0) return 0;
    return m_layers[static_cast<size_t>(index) - 1].stack->OnReceive(bytes, length);
}

vqRESULT cpCQoSContext::SendFromLayer(nwIQoSNetStack* layer, const vqBUFFER& buffer)
{
    const int index = LayerIndex(layer);
    if (index < 0) return VQ_E_PLATFORM;
    if (static_cast<size_t>(index) + 1 == m_layers.size()) return Send(buffer);
    return m_layers[static_cast<size_t>(index) + 1].stack->SendDown(buffer);
}

vqRESULT cpCQoSContext::GetSendBuffer(const unsigned char** bytes, uint32_t* length)
{
    if (bytes) *bytes = m_send.data;
    if (length) *length = m_send.length;
    return VQ_OK_PLATFORM;
}

void cpCQoSContext::RateMeter::Add(uint32_t count)
{
    if (bytes == 0) cpGetTimeOfDay(&start);
    bytes += count;
}

uint32_t cpCQoSContext::RateMeter::TakeRate()
{
    cpTIMEOFDAY now;
    cpGetTimeOfDay(&now);
    const int64_t elapsed = (int64_t(now.seconds) - int64_t(start.seconds)) * 1000 + now.milliseconds - start.milliseconds;
    const uint32_t rate = elapsed > 0 ? static_cast<uint32_t>(bytes * 1000 / static_cast<uint64_t>(elapsed)) : 0;
    start = cpTIMEOFDAY{0, 0};
    bytes = 0;
    return rate;
}

vqRESULT cpCQoSContext::GetReceiveRate(uint32_t* bytesPerSecond)
{
    if ((m_eventMask & QOS_MEASURE_RECEIVE) == 0) return VQ_E_PLATFORM;
    const uint32_t rate = m_receiveRate.TakeRate();
    if (bytesPerSecond) *bytesPerSecond = rate;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::GetSendRate(uint32_t* bytesPerSecond)
{
    if ((m_eventMask & QOS_MEASURE_SEND) == 0) return VQ_E_PLATFORM;
    const uint32_t rate = m_sendRate.TakeRate();
    if (bytesPerSecond) *bytesPerSecond = rate;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::GetPendingSendBytes(uint32_t* bytes)
{
    uint64_t pending = 0;
    for (const QueuedBuffer& queued : m_sendQueue) pending += queued.length;
    if (bytes) *bytes = static_cast<uint32_t>(pending);
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::GetHostName(const char** name)
{
    if (name) *name = m_hostName;
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::SetHostName(const char* name)
{
    // A longer name is not a host name (DNS names stop at 253): refuse it
    // rather than truncate it into another host's address-cache entry.
    if (!name || strlen(name) >= sizeof m_hostName) return VQ_E_PLATFORM;
    memcpy(m_hostName, name, strlen(name) + 1);
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::MarkAddressGood()
{
    if (!m_hostName[0] || m_address.port == 0 || m_address.ip == 0) return VQ_E_PLATFORM;
    cpCAddressCache::Instance().MarkGood(m_hostName, m_address.port, m_address.ip);
    return VQ_OK_PLATFORM;
}

vqRESULT cpCQoSContext::MarkAddressFailed()
{
    if (!m_hostName[0] || m_address.port == 0 || m_address.ip == 0) return VQ_E_PLATFORM;
    cpCAddressCache::Instance().MarkFailed(m_hostName, m_address.port, m_address.ip);
    return VQ_OK_PLATFORM;
}
