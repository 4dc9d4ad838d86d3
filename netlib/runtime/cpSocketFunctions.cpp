#include "netlib/runtime/cpSocketFunctions.h"

#include "platform/MessageLoop.h"
#include "platform/Sockets.h"

namespace {

SOCKADDR_V4 ToPlatform(const cpADDRESS& address)
{
    return SOCKADDR_V4{address.ip, address.port};
}

cpADDRESS FromPlatform(const SOCKADDR_V4& address)
{
    return cpADDRESS{address.ip, address.port};
}

vqRESULT LastError()
{
    return cpMapSocketError(SockLastError());
}

// The common checks of every call on an existing record.
vqRESULT CheckRecord(const cpSocketRecord* record)
{
    if (!record) return VQ_E_NO_SOCKET_RECORD;
    if (record->socket == INVALID_SOCKET) return VQ_E_NOT_SOCKET;
    return VQ_OK_PLATFORM;
}

vqRESULT MakeSocket(cpSocketRecord* record, uint32_t type)
{
    record->socket = SockCreate(type == cpSOCKET_STREAM ? SockType::Stream : SockType::Datagram);
    if (record->socket == INVALID_SOCKET) return VQ_E_NO_SOCKET_RECORD;
    record->type = type;
    if (type == cpSOCKET_STREAM && !SockSetLinger(record->socket, true, 0)) return LastError();
    return VQ_OK_PLATFORM;
}

} // namespace

vqRESULT cpMapSocketError(int error)
{
    switch (error) {
    case WSAEWOULDBLOCK: return VQ_E_WOULDBLOCK;
    case WSAEINPROGRESS: return VQ_E_INPROGRESS;
    case WSAEALREADY: return VQ_E_ALREADY;
    case WSAENOTSOCK: return VQ_E_NOT_SOCKET;
    case WSAENOBUFS: return VQ_E_NOBUFS;
    case WSAECONNREFUSED: return VQ_E_CONNREFUSED;
    default: return VQ_E_PLATFORM;
    }
}

vqRESULT cpSocketCreate(cpSocketRecord*& record, uint32_t type)
{
    if (type != cpSOCKET_STREAM && type != cpSOCKET_DATAGRAM) return VQ_E_PLATFORM;
    if (record && record->socket != INVALID_SOCKET) return VQ_E_SOCKET_EXISTS;
    if (!record) record = new cpSocketRecord();
    vqRESULT result = MakeSocket(record, type);
    if (result == VQ_E_NO_SOCKET_RECORD) {
        delete record;
        record = nullptr;
    }
    return result;
}

vqRESULT cpSocketConnect(cpSocketRecord* record, const cpADDRESS& address)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    record->address = address;
    return SockConnect(record->socket, ToPlatform(address)) ? VQ_OK_PLATFORM : LastError();
}

vqRESULT cpSocketSend(cpSocketRecord* record, const void* bytes, uint32_t length, int32_t* sent)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    long result = SockSend(record->socket, bytes, length);
    if (sent) *sent = static_cast<int32_t>(result);
    return result < 0 ? LastError() : VQ_OK_PLATFORM;
}

vqRESULT cpSocketReceive(cpSocketRecord* record, void* buffer, uint32_t size, int32_t* received)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    long result = SockRecv(record->socket, buffer, size);
    if (received) *received = static_cast<int32_t>(result);
    if (result > 0) return VQ_OK_PLATFORM;
    return result == 0 ? VQ_E_PLATFORM : LastError();
}

vqRESULT cpSocketSendTo(cpSocketRecord* record, const void* bytes, uint32_t length, const cpADDRESS& address,
                        int32_t* sent)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    record->address = address;
    long result = SockSendTo(record->socket, bytes, length, ToPlatform(address));
    if (sent) *sent = static_cast<int32_t>(result);
    return result < 0 ? LastError() : VQ_OK_PLATFORM;
}

vqRESULT cpSocketReceiveFrom(cpSocketRecord* record, void* buffer, uint32_t size, cpADDRESS* from,
                             int32_t* received)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    SOCKADDR_V4 sender{};
    long result = SockRecvFrom(record->socket, buffer, size, &sender);
    if (received) *received = static_cast<int32_t>(result);
    if (result < 0) return LastError();
    record->addressLength = static_cast<int32_t>(sizeof sender);
    if (from) *from = FromPlatform(sender);
    return VQ_OK_PLATFORM;
}

vqRESULT cpSocketClose(cpSocketRecord* record)
{
    if (!record) return VQ_E_NO_SOCKET_RECORD;
    vqRESULT result = VQ_E_NOT_SOCKET;
    if (record->socket != INVALID_SOCKET) result = SockClose(record->socket) ? VQ_OK_PLATFORM : LastError();
    delete record;
    return result;
}

vqRESULT cpSocketBind(cpSocketRecord* record, const cpADDRESS& address)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    record->address = address;
    if (!SockSetReuseAddress(record->socket, true)) return LastError();
    return SockBind(record->socket, ToPlatform(address)) ? VQ_OK_PLATFORM : LastError();
}

vqRESULT cpSocketGetLocalAddress(cpSocketRecord* record, cpADDRESS* address)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    SOCKADDR_V4 local{};
    if (!SockGetLocalAddress(record->socket, &local)) return LastError();
    if (address) *address = FromPlatform(local);
    return VQ_OK_PLATFORM;
}

vqRESULT cpSocketListen(cpSocketRecord* record)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    return SockListen(record->socket, 5) ? VQ_OK_PLATFORM : LastError();
}

vqRESULT cpSocketAccept(cpSocketRecord* listening, cpADDRESS* peer, cpSocketRecord*& newRecord)
{
    vqRESULT check = CheckRecord(listening);
    if (VQ_FAILED(check)) return check;
    if (newRecord && newRecord->socket != INVALID_SOCKET) return VQ_E_SOCKET_EXISTS;
    SOCKADDR_V4 from{};
    SOCKET socket = SockAccept(listening->socket, &from);
    if (socket == INVALID_SOCKET) return LastError();
    if (!newRecord) newRecord = new cpSocketRecord();
    newRecord->socket = socket;
    newRecord->type = listening->type;
    newRecord->address = FromPlatform(from);
    newRecord->addressLength = static_cast<int32_t>(sizeof from);
    if (peer) *peer = newRecord->address;
    if (newRecord->type == cpSOCKET_STREAM && !SockSetLinger(socket, true, 0)) return LastError();
    return VQ_OK_PLATFORM;
}

vqRESULT cpSocketSetBlocking(cpSocketRecord* record, int flag)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    record->nonBlockingArgument = flag == 1 ? 0 : 1;
    return SockSetNonBlocking(record->socket, record->nonBlockingArgument != 0) ? VQ_OK_PLATFORM : LastError();
}

vqRESULT cpSocketSetOption(cpSocketRecord* record, int option)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    if (option != 0) return VQ_E_PLATFORM;
    return SockSetBroadcast(record->socket, true) ? VQ_OK_PLATFORM : LastError();
}

vqRESULT cpSocketSelect(cpWindowHolder* holder, cpSocketRecord* record, int32_t slot)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    if (!holder || slot < 0 || slot >= cpSOCKET_SLOTS) return VQ_E_PLATFORM;
    record->window = holder;
    record->slot = slot;
    return SockAsyncSelect(record->socket, holder->window, cpWM_SOCKET + static_cast<UINT>(slot), cpSELECT_ALL)
               ? VQ_OK_PLATFORM
               : LastError();
}

vqRESULT cpSocketUnselect(cpWindowHolder* holder, cpSocketRecord* record, int32_t* slot)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    if (record->slot < 0) return VQ_E_PLATFORM;
    if (slot) *slot = record->slot;
    record->slot = -1;
    return SockAsyncSelect(record->socket, holder ? holder->window : nullptr, 0, 0) ? VQ_OK_PLATFORM : LastError();
}

vqRESULT cpSocketRearm(cpSocketRecord* record)
{
    vqRESULT check = CheckRecord(record);
    if (VQ_FAILED(check)) return check;
    if (record->slot < 0 || !record->window) return VQ_E_PLATFORM;
    return SockAsyncSelect(record->socket, record->window->window, cpWM_SOCKET + static_cast<UINT>(record->slot),
                           cpSELECT_REARM)
               ? VQ_OK_PLATFORM
               : LastError();
}

vqRESULT cpSocketPostDeferred(cpSocketRecord* record)
{
    if (!record) return VQ_E_NO_SOCKET_RECORD;
    if (!record->window || !record->window->window) return VQ_E_PLATFORM;
    return PostMessage(record->window->window, cpWM_DEFERRED, static_cast<WPARAM>(record->slot),
                       reinterpret_cast<LPARAM>(record))
               ? VQ_OK_PLATFORM
               : VQ_E_PLATFORM;
}

vqRESULT cpNetStartup()
{
    return VQ_OK_NETWORK;
}

vqRESULT cpNetCleanup()
{
    return VQ_OK_NETWORK;
}
