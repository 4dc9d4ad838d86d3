#include "netlib/Lib_SSL/COpenSSL.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct TrustedCertificate {
    std::string name; // at most 255 bytes
    X509* certificate;
};

std::vector<TrustedCertificate>& Trusted()
{
    static auto* list = new std::vector<TrustedCertificate>();
    return *list;
}

constexpr size_t kMaxNameLength = 255;

} // namespace

vqRESULT COpenSSL::Startup()
{
    return OPENSSL_init_ssl(0, nullptr) == 1 ? VQ_OK_PLATFORM : VQ_E_PLATFORM;
}

vqRESULT COpenSSL::Cleanup()
{
    for (TrustedCertificate& trusted : Trusted()) X509_free(trusted.certificate);
    Trusted().clear();
    return VQ_OK_PLATFORM;
}

vqRESULT COpenSSL::AddCertificate(const char* name, const char* pem)
{
    if (!name || !pem) return VQ_E_PLATFORM;
    BIO* stream = BIO_new_mem_buf(pem, -1);
    if (!stream) return VQ_E_PLATFORM;
    X509* certificate = PEM_read_bio_X509(stream, nullptr, nullptr, nullptr);
    BIO_free(stream);
    if (!certificate) return VQ_E_PLATFORM;
    Trusted().push_back(TrustedCertificate{std::string(name, strnlen(name, kMaxNameLength)), certificate});
    return VQ_OK_PLATFORM;
}

X509* COpenSSL::FindCertificate(const char* name)
{
    if (!name) return nullptr;
    for (const TrustedCertificate& trusted : Trusted())
        if (trusted.name == name) return trusted.certificate;
    return nullptr;
}

int COpenSSL::CertificateCount()
{
    return static_cast<int>(Trusted().size());
}
