#pragma once
// A connection context that records what its layers ask of it.

#include "netlib/core/vqCRefCounted.h"
#include "netlib/runtime/vqIQoSContext.h"

#include <gmock/gmock.h>

class MockQoSContext : public vqCRefCounted<vqIQoSContext> {
public:
    MOCK_METHOD(vqRESULT, Open, (int, uint32_t, cpSocketRecord*), (override));
    MOCK_METHOD(vqRESULT, SetActionLimit, (int, const int32_t*), (override));
    MOCK_METHOD(vqRESULT, SetAction, (int), (override));
    MOCK_METHOD(vqRESULT, SetEventMask, (uint32_t), (override));
    MOCK_METHOD(vqRESULT, AddEventMask, (uint32_t), (override));
    MOCK_METHOD(vqRESULT, RemoveEventMask, (uint32_t), (override));
    MOCK_METHOD(vqRESULT, SetParam, (int, const int32_t*), (override));
    MOCK_METHOD(vqRESULT, GetState, (int32_t*), (override));
    MOCK_METHOD(vqRESULT, Connect, (const cpADDRESS&), (override));
    MOCK_METHOD(vqRESULT, SendFromLayer, (nwIQoSNetStack*, const vqBUFFER&), (override));
    MOCK_METHOD(vqRESULT, AddLayer, (uint32_t, bool), (override));
    MOCK_METHOD(vqRESULT, FindLayer, (uint32_t, vqIUnknown**), (override));
    MOCK_METHOD(vqRESULT, Rearm, (), (override));
    MOCK_METHOD(vqRESULT, RegisterFrameHandler, (uint16_t, uint32_t, nwFrameCallback, void*), (override));
    MOCK_METHOD(vqRESULT, SetAddress, (const cpADDRESS&), (override));
    MOCK_METHOD(vqRESULT, GetAddress, (const cpADDRESS**), (override));
    MOCK_METHOD(vqRESULT, Close, (), (override));
    MOCK_METHOD(vqRESULT, PostClose, (), (override));
    MOCK_METHOD(vqIUnknown*, GetTopLayer, (), (override));
    MOCK_METHOD(vqRESULT, NotifyUpperConnected, (nwIQoSNetStack*), (override));
    MOCK_METHOD(int32_t, DeliverUp, (nwIQoSNetStack*, const unsigned char*, uint32_t), (override));
    MOCK_METHOD(vqRESULT, GetSendBuffer, (const unsigned char**, uint32_t*), (override));
    MOCK_METHOD(vqRESULT, Send, (const vqBUFFER&), (override));
    MOCK_METHOD(vqRESULT, GetReceiveRate, (uint32_t*), (override));
    MOCK_METHOD(vqRESULT, GetSendRate, (uint32_t*), (override));
    MOCK_METHOD(vqRESULT, GetPendingSendBytes, (uint32_t*), (override));
    MOCK_METHOD(vqRESULT, GetHostName, (const char**), (override));
    MOCK_METHOD(vqRESULT, SetHostName, (const char*), (override));
    MOCK_METHOD(vqRESULT, MarkAddressGood, (), (override));
    MOCK_METHOD(vqRESULT, MarkAddressFailed, (), (override));
    MOCK_METHOD(vqRESULT, GetLocalAddress, (cpADDRESS*), (override));
    MOCK_METHOD(vqRESULT, GetConnectFailure, (int32_t*), (override));
};
