#pragma once
// Brings the network runtime up and down: the TLS library, the timer
// manager, the socket manager, the deferred-release collector, the MIME map
// and the built-in trusted certificates.
//
// Contract: constructed once on the service thread while it holds the
// network lock (the timer manager's thread timer belongs to that thread).
// Shutdown runs on the service thread after its message loop ended;
// destruction follows on the application thread once the service thread is
// gone, and removes the singletons in reverse order.

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

    static const CVyxCertificate* BuiltInCertificates();
};
