#include "netlib/Lib_SSL/COpenSSL.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TrustedCertificate {
    std::string name; // at most 255 bytes
    X509* certificate;
};

constexpr size_t kMaxNameLength = 255;

// Process-wide TLS state; touched only on the service thread or under the
// network lock.
struct TlsState {
    std::vector<TrustedCertificate> trusted;
    BIO_METHOD* method = nullptr;
    // One client context for every connection: it holds the trusted store,
    // which is costly to load (the system bundle is parsed in full).
    SSL_CTX* context = nullptr;
    // Connections still alive; the BIO method must outlive their BIOs, so a
    // clean-up that finds some leaves the method to the last of them.
    int liveConnections = 0;
    bool cleanupPending = false;
};

TlsState& State()
{
    static auto* state = new TlsState();
    return *state;
}

void FreeMethod()
{
    BIO_meth_free(State().method);
    State().method = nullptr;
    State().cleanupPending = false;
}

COpenSSL* Owner(BIO* bio)
{
    return static_cast<COpenSSL*>(BIO_get_data(bio));
}

int OstrelWrite(BIO* bio, const char* data, int length)
{
    BIO_clear_retry_flags(bio);
    if (!data) {
        ERR_raise(ERR_LIB_BIO, ERR_R_PASSED_NULL_PARAMETER);
        return -1;
    }
    COpenSSL* owner = Owner(bio);
    return owner ? owner->BioWrite(data, length) : -1;
}

int OstrelRead(BIO* bio, char* buffer, int length)
{
    BIO_clear_retry_flags(bio);
    COpenSSL* owner = Owner(bio);
    const int copied = owner ? owner->BioRead(buffer, length) : 0;
    if (copied > 0) return copied;
    BIO_set_retry_read(bio);
    return -1;
}

int OstrelPuts(BIO* bio, const char* text)
{
    return OstrelWrite(bio, text, text ? static_cast<int>(strlen(text)) : 0);
}

long OstrelCtrl(BIO* bio, int command, long number, void*)
{
    switch (command) {
    case BIO_CTRL_GET_CLOSE:
        return BIO_get_shutdown(bio);
    case BIO_CTRL_SET_CLOSE:
        BIO_set_shutdown(bio, static_cast<int>(number));
        return 1;
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
        return 1;
    default:
        return 0;
    }
}

int OstrelCreate(BIO* bio)
{
    BIO_set_shutdown(bio, 1);
    BIO_set_init(bio, 1);
    return 1;
}

int OstrelDestroy(BIO*)
{
    return 1;
}

// Built on first use: a process that never speaks TLS never reads the store.
SSL_CTX* SharedContext()
{
    TlsState& state = State();
    if (state.context) return state.context;
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) return nullptr;
    if (SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    // A machine without a system bundle still trusts the named list.
    SSL_CTX_set_default_verify_paths(context);
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    for (const TrustedCertificate& trusted : state.trusted) X509_STORE_add_cert(store, trusted.certificate);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    ERR_clear_error();
    state.context = context;
    return context;
}

std::string Describe(unsigned long error)
{
    if (error == 0) return "no further detail";
    const char* reason = ERR_reason_error_string(error);
    return reason ? reason : "error " + std::to_string(error);
}

} // namespace

vqRESULT COpenSSL::Startup()
{
    const bool ok = OPENSSL_init_ssl(0, nullptr) == 1 &&
                    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) == 1 &&
                    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr) == 1;
    TlsState& state = State();
    state.cleanupPending = false;
    if (!state.method) {
        state.method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ostrel BIO");
        if (state.method) {
            BIO_meth_set_write(state.method, &OstrelWrite);
            BIO_meth_set_read(state.method, &OstrelRead);
            BIO_meth_set_puts(state.method, &OstrelPuts);
            BIO_meth_set_ctrl(state.method, &OstrelCtrl);
            BIO_meth_set_create(state.method, &OstrelCreate);
            BIO_meth_set_destroy(state.method, &OstrelDestroy);
        }
    }
    return ok && state.method ? VQ_OK_PLATFORM : VQ_E_PLATFORM;
}

vqRESULT COpenSSL::Cleanup()
{
    TlsState& state = State();
    for (TrustedCertificate& trusted : state.trusted) X509_free(trusted.certificate);
    state.trusted.clear();
    // Connections keep their own reference on the context.
    SSL_CTX_free(state.context);
    state.context = nullptr;
    if (state.liveConnections == 0) FreeMethod();
    else state.cleanupPending = true;
    return VQ_OK_PLATFORM;
}

vqRESULT COpenSSL::AddCertificate(const char* name, const char* pem)
{
    if (!name || !pem) return VQ_E_PLATFORM;
    BIO* stream = BIO_new_mem_buf(pem, -1);
    if (!stream) return VQ_E_PLATFORM;
    X509* certificate = PEM_read_bio_X509(stream, nullptr, nullptr, nullptr);
    BIO_free(stream);
    if (!certificate) {
        ERR_clear_error();
        return VQ_E_PLATFORM;
    }
    State().trusted.push_back(TrustedCertificate{std::string(name, strnlen(name, kMaxNameLength)), certificate});
    // A store already loaded learns of it too.
    if (State().context) X509_STORE_add_cert(SSL_CTX_get_cert_store(State().context), certificate);
    return VQ_OK_PLATFORM;
}

X509* COpenSSL::FindCertificate(const char* name)
{
    if (!name) return nullptr;
    for (const TrustedCertificate& trusted : State().trusted)
        if (trusted.name == name) return trusted.certificate;
    return nullptr;
}

int COpenSSL::CertificateCount()
{
    return static_cast<int>(State().trusted.size());
}

COpenSSL* COpenSSL::Create(const COpenSSLCallbacks& callbacks, const char* host)
{
    TlsState& state = State();
    if (!state.method || !host || !*host) return nullptr;
    SSL_CTX* context = SharedContext();
    if (!context) return nullptr;
    std::unique_ptr<COpenSSL> tls(new COpenSSL());
    ++state.liveConnections;
    tls->m_callbacks = callbacks;
    tls->m_host = host;
    tls->m_readBuffer.reset(new unsigned char[kReadBufferSize]);
    tls->m_ssl = SSL_new(context);
    if (!tls->m_ssl) return nullptr;
    BIO* in = BIO_new(state.method);
    BIO* out = BIO_new(state.method);
    if (!in || !out) {
        BIO_free(in);
        BIO_free(out);
        return nullptr;
    }
    BIO_set_data(in, tls.get());
    BIO_set_data(out, tls.get());
    SSL_set_bio(tls->m_ssl, in, out);
    // An address literal is checked against the certificate's addresses and
    // is never sent as a server name.
    X509_VERIFY_PARAM* param = SSL_get0_param(tls->m_ssl);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host) != 1) {
        if (SSL_set1_host(tls->m_ssl, host) != 1 || SSL_set_tlsext_host_name(tls->m_ssl, host) != 1) return nullptr;
    }
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_set_connect_state(tls->m_ssl);
    ERR_clear_error();
    return tls.release();
}

COpenSSL::~COpenSSL()
{
    SSL_free(m_ssl);
    TlsState& state = State();
    if (--state.liveConnections == 0 && state.cleanupPending) FreeMethod();
}

void COpenSSL::Lend(const unsigned char* data, uint32_t length)
{
    m_input = data;
    m_inputLength = length;
    m_inputRead = 0;
    m_lastError = 0;
    ERR_clear_error();
}

uint32_t COpenSSL::TakeConsumed()
{
    const uint32_t consumed = m_inputRead;
    m_input = nullptr;
    m_inputLength = 0;
    m_inputRead = 0;
    return consumed;
}

int COpenSSL::BioRead(char* buffer, int length)
{
    if (!m_input || m_inputRead >= m_inputLength || length <= 0) return 0;
    uint32_t count = m_inputLength - m_inputRead;
    if (count > static_cast<uint32_t>(length)) count = static_cast<uint32_t>(length);
    memcpy(buffer, m_input + m_inputRead, count);
    m_inputRead += count;
    return static_cast<int>(count);
}

int COpenSSL::BioWrite(const char* data, int length)
{
    if (length > 0) m_callbacks.sendCiphertext(reinterpret_cast<const unsigned char*>(data), static_cast<uint32_t>(length), m_callbacks.user);
    return length;
}

vqRESULT COpenSSL::StartHandshake()
{
    Lend(nullptr, 0);
    const int result = SSL_connect(m_ssl);
    TakeConsumed();
    if (result == 1 || SSL_get_error(m_ssl, result) == SSL_ERROR_WANT_READ) return VQ_OK_PLATFORM;
    m_lastError = ERR_peek_last_error();
    return VQ_E_PLATFORM;
}

vqRESULT COpenSSL::FeedHandshake(const unsigned char* data, uint32_t length, uint32_t* consumed)
{
    Lend(data, length);
    const int result = SSL_connect(m_ssl);
    const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, result);
    if (error != SSL_ERROR_NONE && error != SSL_ERROR_WANT_READ) m_lastError = ERR_peek_last_error();
    *consumed = TakeConsumed();
    if (result == 1) {
        m_callbacks.handshakeComplete(m_callbacks.user);
        return VQ_OK_PLATFORM;
    }
    return error == SSL_ERROR_WANT_READ ? VQ_OK_PLATFORM : VQ_E_PLATFORM;
}

COpenSSL::FeedOutcome COpenSSL::FeedData(const unsigned char* data, uint32_t length, uint32_t* consumed)
{
    Lend(data, length);
    const int result = SSL_read(m_ssl, m_readBuffer.get(), static_cast<int>(kReadBufferSize));
    const int error = result > 0 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, result);
    if (error != SSL_ERROR_NONE && error != SSL_ERROR_WANT_READ) m_lastError = ERR_peek_last_error();
    *consumed = TakeConsumed();
    if (result > 0) {
        m_callbacks.plaintextReceived(m_readBuffer.get(), static_cast<uint32_t>(result), m_callbacks.user);
        return FEED_OK;
    }
    if (error == SSL_ERROR_WANT_READ) return FEED_OK;
    return error == SSL_ERROR_ZERO_RETURN ? FEED_PEER_CLOSED : FEED_FAILED;
}

vqRESULT COpenSSL::Write(const unsigned char* data, uint32_t length)
{
    if (length == 0) return VQ_OK_PLATFORM;
    if (!data || length > 0x7FFFFFFFu) return VQ_E_PLATFORM;
    ERR_clear_error();
    return SSL_write(m_ssl, data, static_cast<int>(length)) == static_cast<int>(length) ? VQ_OK_PLATFORM : VQ_E_PLATFORM;
}

std::string COpenSSL::FailureText() const
{
    const long verify = SSL_get_verify_result(m_ssl);
    if (verify != X509_V_OK)
        return "[MeshpullLib] TLS certificate of " + m_host + " not accepted: verify result " + std::to_string(verify) +
               " (" + X509_verify_cert_error_string(verify) + ")";
    return "[MeshpullLib] TLS with " + m_host + " failed: " + Describe(m_lastError);
}
