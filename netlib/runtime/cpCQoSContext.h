#pragma once
// The connection context (class id 0x100A): one TCP connection with its
// socket registration, send queue, receive buffer, pump strategy, connect
// timer, idle counting, deferred events and stack of protocol layers.
//
// Two faces, one object and one (atomic) reference count: vqIQoSContext for
// owners and layers, cpISocketOwner for the socket manager, which holds a
// reference while the socket is registered. Everything runs on the service
// thread or under the network lock.

#include "netlib/core/cpClock.h"
#include "netlib/core/vqSmartPtr.h"
#include "netlib/runtime/cpADDRESS.h"
#include "netlib/runtime/cpCQoSContextAction.h"
#include "netlib/runtime/cpISocketOwner.h"
#include "netlib/runtime/cpQoSBuffers.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

class cpCQoSContext : public vqIQoSContext, public cpISocketOwner {
public:
    static constexpr int32_t kDefaultIdleLimit = 60;
    static constexpr int32_t kDefaultConnectTimeout = 5;
    static constexpr uint32_t kConnectTimerTag = 0x1000003;

    cpCQoSContext();
    ~cpCQoSContext() override;

    vqRESULT AddRef() override;
    vqRESULT Release() override;
    vqRESULT QueryInterface(uint32_t interfaceId, void** out) override;

    vqRESULT Open(int actionType, uint32_t eventMask, cpSocketRecord* record) override;
    vqRESULT SetActionLimit(int direction, const int32_t* value) override;
    vqRESULT SetAction(int actionType) override;
    vqRESULT SetEventMask(uint32_t mask) override;
    vqRESULT AddEventMask(uint32_t bits) override;
    vqRESULT RemoveEventMask(uint32_t bits) override;
    vqRESULT SetParam(int type, const int32_t* value) override;
    vqRESULT GetState(int32_t* state) override;
    vqRESULT Connect(const cpADDRESS& address) override;
    vqRESULT SendFromLayer(nwIQoSNetStack* layer, const vqBUFFER& buffer) override;
    vqRESULT AddLayer(uint32_t classId, bool atBottom) override;
    vqRESULT FindLayer(uint32_t classId, vqIUnknown** layer) override;
    vqRESULT Rearm() override;
    vqRESULT RegisterFrameHandler(uint16_t type, uint32_t subtype, nwFrameCallback callback, void* userData) override;
    vqRESULT SetAddress(const cpADDRESS& address) override;
    vqRESULT GetAddress(const cpADDRESS** address) override;
    vqRESULT Close() override;
    vqRESULT PostClose() override;
    vqIUnknown* GetTopLayer() override;
    vqRESULT NotifyUpperConnected(nwIQoSNetStack* layer) override;
    int32_t DeliverUp(nwIQoSNetStack* layer, const unsigned char* bytes, uint32_t length) override;
    vqRESULT GetSendBuffer(const unsigned char** bytes, uint32_t* length) override;
    vqRESULT Send(const vqBUFFER& buffer) override;
    vqRESULT GetReceiveRate(uint32_t* bytesPerSecond) override;
    vqRESULT GetSendRate(uint32_t* bytesPerSecond) override;
    vqRESULT GetPendingSendBytes(uint32_t* bytes) override;
    vqRESULT GetHostName(const char** name) override;
    vqRESULT SetHostName(const char* name) override;
    vqRESULT MarkAddressGood() override;
    vqRESULT MarkAddressFailed() override;
    vqRESULT GetLocalAddress(cpADDRESS* address) override;
    vqRESULT GetConnectFailure(int32_t* failure) override;

    // Socket manager events.
    void OnReadable() override;
    void OnWritable() override;
    void OnConnected() override;
    void OnConnectFailed() override;
    void OnConnectUnreachable() override;
    void OnAccept() override {}
    void OnDeferredEvent(cpSocketRecord* record) override;
    void OnSchedulerTick(uint32_t& receivedTotal, uint32_t& sentTotal) override;

private:
    struct LayerEntry {
        vqSmartPtr object;
        nwIQoSNetStack* stack;
        uint32_t classId;
    };
    struct QueuedBuffer {
        std::unique_ptr<unsigned char[]> data;
        uint32_t length;
    };
    struct RateMeter {
        cpTIMEOFDAY start{0, 0};
        uint64_t bytes = 0;
        void Add(uint32_t count);
        uint32_t TakeRate();
    };

    int LayerIndex(const nwIQoSNetStack* layer) const;
    void QueueEvent(int32_t code);
    // Tells the layers, bottom-up, until one answers false; only for events
    // in the mask.
    void FanOut(uint32_t code, int32_t value);
    // The one bottom-up walk over the layers: a notify(layer) that answers
    // bool says whether the notification goes on to the layer above.
    template <class Notify>
    void WalkUp(Notify notify);
    void DeliverReceived();
    void LoadNextBuffer();
    bool Flush();
    void FreeCurrentBuffer();
    void FreeReceiveBuffer();
    void StartConnectTimer();
    void StopConnectTimer();
    static void OnConnectTimer(void* self);

    std::atomic<int32_t> m_refCount{0};
    cpQoSSendBuffer m_send;
    cpQoSReceiveBuffer m_receive;
    cpSocketRecord* m_record = nullptr;
    int32_t m_idleLimit = kDefaultIdleLimit;
    int32_t m_connectTimeout = kDefaultConnectTimeout;
    uint32_t m_receiveRound = 0;
    uint32_t m_eventMask = 0;
    int32_t m_state = QOS_CREATED;
    int32_t m_connectFailure = QOS_CONNECT_NOT_FAILED;
    std::deque<QueuedBuffer> m_sendQueue;
    int32_t m_idleTicks = 0;
    int32_t m_totalTicks = 0;
    std::vector<LayerEntry> m_layers; // [0] the top, back() the bottom
    vqSmartPtr m_connectTimer;
    vqSmartPtr m_frameDispatcher;
    std::unique_ptr<cpCQoSContextAction> m_action;
    cpADDRESS m_address{0, 0};
    RateMeter m_sendRate;
    RateMeter m_receiveRate;
    bool m_established = false; // the connect has completed once
    int32_t m_periodic[4] = {};
    char m_hostName[256] = {};
    std::deque<int32_t> m_eventQueue;
    bool m_delivering = false;
};
