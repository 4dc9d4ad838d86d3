#pragma once
// The notification state of one socket: which notifications are enabled,
// where they go, and the connection's progress. It keeps the one-shot rules
// of Sockets.h.
//
// Contract: every socket made by Sockets.cpp has exactly one watch from its
// creation to SockClose. All members may be called from any thread; each
// takes the watch's own lock, which is only ever taken last (inside the
// queue's source lock when the owner thread polls). Notifications are posted,
// never delivered directly, so nothing runs on the caller's stack. Readiness
// is read from the socket itself at every evaluation; the poll set only says
// when to look again, so an edge that passes while a notification is
// disabled is never lost.

#include "platform/IPollSource.h"
#include "platform/MessageQueue.h"
#include "platform/SocketTypes.h"
#include "platform/WinTypes.h"

#include <memory>
#include <mutex>

class CSocketWatch final : public IPollSource {
public:
    enum class State { Idle, Connecting, ConnectFailed, Connected, Failed, Listening };

    CSocketWatch(SOCKET socket, State state);
    ~CSocketWatch();
    CSocketWatch(const CSocketWatch&) = delete;
    CSocketWatch& operator=(const CSocketWatch&) = delete;

    // Mask 0 cancels. False when the window has no thread of ours.
    bool Select(HWND window, UINT message, long mask);
    // Before the descriptor is closed: leaves the poll set for good.
    void Close();

    // What the socket functions report after each call.
    void OnConnectStarted();
    void OnConnectFailedAtOnce(int error);
    void OnConnectedAtOnce();
    void OnListening();
    // filledBuffer: the receive returned every byte asked for, so more is
    // most likely waiting and the next read report needs no look at the
    // socket (the bulk-transfer path: one report per read, no extra calls).
    void OnReceiveCalled(bool orderlyClose, bool filledBuffer = false);
    void OnSendBlocked();
    void OnAcceptCalled();

    void OnPollReady(uint32_t events) override;

private:
    void EvaluateLocked();
    void EvaluateConnectedLocked();
    void PostLocked(long code, int error);
    int TakeSocketError() const;

    const SOCKET m_socket;
    std::mutex m_mutex;
    State m_state;
    HWND m_window = nullptr;
    UINT m_message = 0;
    long m_mask = 0;
    std::weak_ptr<CMessageQueue> m_queue; // the poll set the socket is in
    bool m_closed = false;
    bool m_readEnabled = false;
    bool m_writeEnabled = false;
    bool m_acceptEnabled = false;
    bool m_closeReported = false;
    bool m_peerClosed = false;
    int m_connectError = 0;
};
