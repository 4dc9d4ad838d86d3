#pragma once
// The OpenSSL glue: library start-up and clean-up, and the list of trusted
// certificates that connections verify against.
//
// Contract: Startup and Cleanup run on the service thread (network start-up
// and shut-down); the certificate list is used only there or under the
// network lock. Cleanup frees every certificate.

#include "netlib/core/vqResult.h"

typedef struct x509_st X509;

class COpenSSL {
public:
    static vqRESULT Startup();
    static vqRESULT Cleanup();

    // Reads one certificate from PEM text; on success appends {name,
    // certificate} to the trusted list (0x40200000), else 0x80200000 (also
    // for a missing name or text).
    static vqRESULT AddCertificate(const char* name, const char* pem);
    // The certificate of that name, or null. The list keeps ownership.
    static X509* FindCertificate(const char* name);
    static int CertificateCount();
};
