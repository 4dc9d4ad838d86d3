#pragma once
// Brings the network runtime up and down: the TLS library, the timer
// manager, the socket manager, the deferred-release collector, the MIME map
// and the built-in trusted certificates.
//
// Contract: constructed once on the service thread while it holds the
// network lock (the timer manager's thread timer belongs to that thread).
// The timer manager and the socket manager exist once per process: while
// another runtime holds them, a new one does not come up (IsUp is false) and
// leaves them alone. Shutdown runs on the service thread after its message
// loop ended; destruction follows once the service thread is done with the
// runtime, and removes the singletons this runtime made, in reverse order.

#include "netlib/core/vqResult.h"

class cpCMutex;

struct CVyxCertificate {
    const char* name; // null ends a table
    const char* pem;
};

class CVyx {
public:
    // The built-in table holds no certificate; tests hand their own.
    explicit CVyx(cpCMutex* networkLock, const CVyxCertificate* certificates = nullptr);
    virtual ~CVyx();
    CVyx(const CVyx&) = delete;
    CVyx& operator=(const CVyx&) = delete;

    // Stops the socket library, then the TLS library; the TLS answer.
    vqRESULT Shutdown();
    // True when this runtime made the timer manager and the socket manager
    // and both came up.
    bool IsUp() const { return m_up; }

    static const CVyxCertificate* BuiltInCertificates();

private:
    bool m_ownsTimers = false;
    bool m_ownsSockets = false;
    bool m_up = false;
};
