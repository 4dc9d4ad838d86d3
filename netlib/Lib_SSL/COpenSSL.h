#pragma once
// The OpenSSL glue: library start-up and clean-up, the list of named
// certificates that connections trust besides the system's, and one TLS
// client connection (an instance) whose ciphertext never touches a socket.
//
// Contract of the process-wide part: Startup and Cleanup run on the service
// thread (network start-up and shut-down); everything else runs on the
// service thread or under the network lock. The trusted store (the system's
// certificates, as OpenSSL finds them, SSL_CERT_FILE and SSL_CERT_DIR
// included, plus the named list) is loaded once, by the first connection,
// and kept until Cleanup. Cleanup frees every certificate.
//
// Contract of an instance: all ciphertext goes through the "ostrel BIO"
// method. Bytes from the network are lent to OpenSSL one block at a time
// (FeedHandshake, FeedData), and `consumed` says how many of them OpenSSL
// took; ciphertext OpenSSL produces is handed to the sendCiphertext callback
// at once, from inside the call that produced it. The callbacks run inside
// StartHandshake, FeedHandshake, FeedData and Write; they may not free the
// instance (its owner counts its calls and frees it after the outermost one).
// The server's certificate must chain to the trusted store and name the host
// given to Create; the host is also sent as the server name (SNI); TLS 1.2
// is the minimum version.

#include "netlib/core/vqResult.h"

#include <cstdint>
#include <memory>
#include <string>

typedef struct x509_st X509;
typedef struct ssl_st SSL;

struct COpenSSLCallbacks {
    void* user;
    void (*sendCiphertext)(const unsigned char* data, uint32_t length, void* user);
    void (*handshakeComplete)(void* user);
    void (*plaintextReceived)(const unsigned char* data, uint32_t length, void* user);
};

class COpenSSL {
public:
    // How FeedData ended when it did not fail outright: the peer's
    // close_notify is an orderly end, not a broken record.
    enum FeedOutcome { FEED_OK, FEED_PEER_CLOSED, FEED_FAILED };

    static constexpr uint32_t kReadBufferSize = 24576;

    // A connection to host (a name or an IPv4 literal); null when OpenSSL
    // could not make one.
    static COpenSSL* Create(const COpenSSLCallbacks& callbacks, const char* host);
    ~COpenSSL();
    COpenSSL(const COpenSSL&) = delete;
    COpenSSL& operator=(const COpenSSL&) = delete;

    // Sends the ClientHello; success when it went out.
    vqRESULT StartHandshake();
    // Calls handshakeComplete when the handshake is done.
    vqRESULT FeedHandshake(const unsigned char* data, uint32_t length, uint32_t* consumed);
    // One record at most; its plaintext goes to plaintextReceived.
    FeedOutcome FeedData(const unsigned char* data, uint32_t length, uint32_t* consumed);
    // Success only when every byte was taken.
    vqRESULT Write(const unsigned char* data, uint32_t length);

    // After a failed feed: one line for the activity log naming the host and
    // what went wrong (the certificate check's result when that failed).
    std::string FailureText() const;

    // Process-wide.
    static vqRESULT Startup();
    static vqRESULT Cleanup();
    // Reads one certificate from PEM text; on success appends {name,
    // certificate} to the trusted list (0x40200000), else 0x80200000 (also
    // for a missing name or text).
    static vqRESULT AddCertificate(const char* name, const char* pem);
    // The certificate of that name, or null. The list keeps ownership.
    static X509* FindCertificate(const char* name);
    static int CertificateCount();

    // The BIO method's callbacks reach the instance through these.
    int BioRead(char* buffer, int length);
    int BioWrite(const char* data, int length);

private:
    COpenSSL() = default;
    void Lend(const unsigned char* data, uint32_t length);
    uint32_t TakeConsumed();

    COpenSSLCallbacks m_callbacks{};
    SSL* m_ssl = nullptr;
    std::string m_host;
    std::unique_ptr<unsigned char[]> m_readBuffer;
    // OpenSSL's last error of the failed call, for FailureText.
    unsigned long m_lastError = 0;
    const unsigned char* m_input = nullptr;
    uint32_t m_inputLength = 0;
    uint32_t m_inputRead = 0;
};
