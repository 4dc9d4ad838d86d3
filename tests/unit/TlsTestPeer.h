#pragma once
// A TLS server that lives in memory, for driving the TLS client layer with
// real ciphertext: OpenSSL on the server side over two memory BIOs, with a
// certificate authority and server certificates made at test time.

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <map>
#include <string>
#include <utility>

namespace tlstest {

struct KeyAndCertificate {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
};

inline void AddExtension(X509* certificate, X509* issuer, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for subjectAltName `san` ("DNS:a.test" or "IP:127.0.0.1"),
// valid from `fromSeconds` to `toSeconds` around now, signed by `issuer`
// (itself when null, which makes a self-signed certificate).
inline KeyAndCertificate MakeCertificate(const char* commonName, const char* san, const KeyAndCertificate* issuer,
                                         bool authority, long fromSeconds = -3600, long toSeconds = 86400)
{
    static long serial = 1;
    KeyAndCertificate made;
    made.key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), fromSeconds);
    X509_gmtime_adj(X509_getm_notAfter(certificate), toSeconds);
    X509_set_pubkey(certificate, made.key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509* issuerCertificate = issuer ? issuer->certificate : certificate;
    X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate));
    if (authority) {
        AddExtension(certificate, issuerCertificate, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(certificate, issuerCertificate, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(certificate, issuerCertificate, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(certificate, issuerCertificate, NID_ext_key_usage, "serverAuth");
    }
    if (san) AddExtension(certificate, issuerCertificate, NID_subject_alt_name, san);
    X509_sign(certificate, issuer ? issuer->key : made.key, EVP_sha256());
    made.certificate = certificate;
    return made;
}

inline void Free(KeyAndCertificate& made)
{
    EVP_PKEY_free(made.key);
    X509_free(made.certificate);
    made = KeyAndCertificate();
}

inline std::string Pem(X509* certificate)
{
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(out, certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out, &data);
    std::string text(data, static_cast<size_t>(length));
    BIO_free(out);
    return text;
}

// The certificates every test uses, made once per process.
struct Certificates {
    KeyAndCertificate authority = MakeCertificate("zdr test CA", nullptr, nullptr, true);
    KeyAndCertificate server = MakeCertificate("secure.test", "DNS:secure.test", &authority, false);
    KeyAndCertificate otherHost = MakeCertificate("other.test", "DNS:other.test", &authority, false);
    KeyAndCertificate expired = MakeCertificate("secure.test", "DNS:secure.test", &authority, false, -7200, -3600);
    KeyAndCertificate selfSigned = MakeCertificate("secure.test", "DNS:secure.test", nullptr, false);
    KeyAndCertificate address = MakeCertificate("127.0.0.1", "IP:127.0.0.1", &authority, false);

    static Certificates& Get()
    {
        static Certificates* certificates = new Certificates();
        return *certificates;
    }
};

// One server connection. Bytes from the client go in with FromClient; Pump
// runs the server and answers what it wants to send.
class MemoryServer {
public:
    MemoryServer(const KeyAndCertificate& identity, int maxVersion = 0)
    {
        m_ssl = SSL_new(Context(identity, maxVersion));
        SSL_set_app_data(m_ssl, this);
        m_in = BIO_new(BIO_s_mem());
        m_out = BIO_new(BIO_s_mem());
        SSL_set_bio(m_ssl, m_in, m_out);
        SSL_set_accept_state(m_ssl);
    }
    ~MemoryServer() { SSL_free(m_ssl); }
    MemoryServer(const MemoryServer&) = delete;
    MemoryServer& operator=(const MemoryServer&) = delete;

    void FromClient(const std::string& bytes)
    {
        if (!bytes.empty()) BIO_write(m_in, bytes.data(), static_cast<int>(bytes.size()));
    }
    // Advances the handshake and reads application data; answers the
    // ciphertext the server has to send.
    std::string Pump()
    {
        if (!SSL_is_init_finished(m_ssl)) SSL_do_handshake(m_ssl);
        if (SSL_is_init_finished(m_ssl)) {
            char buffer[16384];
            int n;
            while ((n = SSL_read(m_ssl, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<size_t>(n));
        }
        return TakeOutput();
    }
    std::string Send(const std::string& plaintext)
    {
        SSL_write(m_ssl, plaintext.data(), static_cast<int>(plaintext.size()));
        return TakeOutput();
    }
    std::string CloseNotify()
    {
        SSL_shutdown(m_ssl);
        return TakeOutput();
    }
    bool HandshakeDone() const { return SSL_is_init_finished(m_ssl); }

    std::string received;
    std::string serverName = "(none)";

private:
    // One server context per identity and version, kept for the process:
    // making one costs more than a handshake.
    static SSL_CTX* Context(const KeyAndCertificate& identity, int maxVersion)
    {
        static std::map<std::pair<X509*, int>, SSL_CTX*>* contexts = new std::map<std::pair<X509*, int>, SSL_CTX*>();
        SSL_CTX*& context = (*contexts)[{identity.certificate, maxVersion}];
        if (context) return context;
        context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(context, identity.certificate);
        SSL_CTX_use_PrivateKey(context, identity.key);
        if (maxVersion) SSL_CTX_set_max_proto_version(context, maxVersion);
        SSL_CTX_set_tlsext_servername_callback(context, &ServerName);
        return context;
    }
    static int ServerName(SSL* ssl, int*, void* arg)
    {
        const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
        (void)arg;
        static_cast<MemoryServer*>(SSL_get_app_data(ssl))->serverName = name ? name : "(none)";
        return SSL_TLSEXT_ERR_OK;
    }
    std::string TakeOutput()
    {
        std::string out;
        char buffer[16384];
        int n;
        while ((n = BIO_read(m_out, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
        return out;
    }

    SSL* m_ssl;
    BIO* m_in;
    BIO* m_out;
};

} // namespace tlstest
