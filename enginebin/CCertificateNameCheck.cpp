#include "enginebin/CCertificateNameCheck.h"

#include "enginebin/CurlApi.h"
#include "enginebin/FindSymbol.h"

#include <dlfcn.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

// The few OpenSSL functions the check calls. Only pointers: a direct call
// (or one of OpenSSL's inline stack helpers) would make the engine load
// OpenSSL at start.
struct OpenSslApi {
    int (*ctx_get_verify_mode)(const SSL_CTX* ctx);
    void (*ctx_set_verify)(SSL_CTX* ctx, int mode, SSL_verify_cb callback);
    int (*store_get_error_depth)(const X509_STORE_CTX* store);
    X509* (*store_get_current_cert)(const X509_STORE_CTX* store);
    void (*store_set_error)(X509_STORE_CTX* store, int error);
    void* (*get_ext_d2i)(const X509* cert, int nid, int* critical, int* index);
    int (*stack_num)(const OPENSSL_STACK* stack);
    void* (*stack_value)(const OPENSSL_STACK* stack, int index);
    void (*general_names_free)(GENERAL_NAMES* names);
};

OpenSslApi g_ssl{};

// Whether the certificate names its server in subjectAltName: a DNS name or
// an IP address there (the only entries a host is checked against).
bool NamesItsServer(X509* cert)
{
    auto* names = static_cast<GENERAL_NAMES*>(g_ssl.get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    if (!names) return false;
    const auto* stack = reinterpret_cast<const OPENSSL_STACK*>(names);
    bool named = false;
    for (int i = 0; i < g_ssl.stack_num(stack) && !named; ++i) {
        const auto* name = static_cast<const GENERAL_NAME*>(g_ssl.stack_value(stack, i));
        named = name->type == GEN_DNS || name->type == GEN_IPADD;
    }
    g_ssl.general_names_free(names);
    return named;
}

int OnVerify(int verified, X509_STORE_CTX* store)
{
    if (!verified || g_ssl.store_get_error_depth(store) != 0) return verified;
    if (NamesItsServer(g_ssl.store_get_current_cert(store))) return 1;
    g_ssl.store_set_error(store, X509_V_ERR_HOSTNAME_MISMATCH);
    return 0;
}

CURLcode OnSslContext(CURL*, void* context, void*)
{
    auto* ctx = static_cast<SSL_CTX*>(context);
    // libcurl's own mode stays: it may verify during the handshake or read
    // the verification's result after it.
    g_ssl.ctx_set_verify(ctx, g_ssl.ctx_get_verify_mode(ctx), &OnVerify);
    return CURLE_OK;
}

} // namespace

bool CCertificateNameCheck::Load(std::string* error)
{
    void* ssl = dlopen("libssl.so.3", RTLD_NOW | RTLD_NOLOAD);
    void* crypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_NOLOAD);
    if (!ssl || !crypto) {
        if (ssl) dlclose(ssl);
        if (crypto) dlclose(crypto);
        *error = "libcurl does not use OpenSSL 3: certificate names cannot be checked";
        return false;
    }
    OpenSslApi api{};
    const bool found = FindSymbol(ssl, "OpenSSL", "SSL_CTX_get_verify_mode", &api.ctx_get_verify_mode, error) &&
                       FindSymbol(ssl, "OpenSSL", "SSL_CTX_set_verify", &api.ctx_set_verify, error) &&
                       FindSymbol(crypto, "OpenSSL", "X509_STORE_CTX_get_error_depth", &api.store_get_error_depth, error) &&
                       FindSymbol(crypto, "OpenSSL", "X509_STORE_CTX_get_current_cert", &api.store_get_current_cert, error) &&
                       FindSymbol(crypto, "OpenSSL", "X509_STORE_CTX_set_error", &api.store_set_error, error) &&
                       FindSymbol(crypto, "OpenSSL", "X509_get_ext_d2i", &api.get_ext_d2i, error) &&
                       FindSymbol(crypto, "OpenSSL", "OPENSSL_sk_num", &api.stack_num, error) &&
                       FindSymbol(crypto, "OpenSSL", "OPENSSL_sk_value", &api.stack_value, error) &&
                       FindSymbol(crypto, "OpenSSL", "GENERAL_NAMES_free", &api.general_names_free, error);
    // The references keep what libcurl loaded; nothing is ever unloaded.
    if (!found) return false;
    g_ssl = api;
    return true;
}

void CCertificateNameCheck::Apply(CURL* easy)
{
    Curl().easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
}
