#include "engine/UpdateSignature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

extern const char kUpdatePublicKeyPem[];

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

// Only an Ed25519 key is accepted: another kind of key would verify under
// rules of its own.
KeyPtr ReadKey(const std::string& pem, bool isPrivate)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    KeyPtr key(isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                         : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519) return nullptr;
    return key;
}

} // namespace

std::string Sha256Hex(const void* data, size_t size)
{
    unsigned char digest[kSha256Size];
    unsigned int length = 0;
    if (!EVP_Digest(size ? data : "", size, digest, &length, EVP_sha256(), nullptr) || length != kSha256Size)
        return std::string();
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 15]);
    }
    return text;
}

bool SameSha256Hex(const std::string& a, const std::string& b)
{
    if (a.size() != kSha256Size * 2 || b.size() != a.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] >= 'A' && a[i] <= 'F') ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = (b[i] >= 'A' && b[i] <= 'F') ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        const bool hex = (x >= '0' && x <= '9') || (x >= 'a' && x <= 'f');
        if (!hex || x != y) return false;
    }
    return true;
}

const char* UpdatePublicKeyPem()
{
    return kUpdatePublicKeyPem;
}

bool VerifyUpdateSignature(const void* data, size_t size, const void* signature, size_t signatureSize)
{
    return VerifyEd25519(kUpdatePublicKeyPem, data, size, signature, signatureSize);
}

bool VerifyEd25519(const std::string& publicKeyPem, const void* data, size_t size, const void* signature,
                   size_t signatureSize)
{
    if (!signature || signatureSize != kEd25519SignatureSize || (!data && size)) return false;
    KeyPtr key = ReadKey(publicKeyPem, false);
    std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    if (!key || !context) return false;
    // Ed25519 signs the message itself: no separate digest.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    return EVP_DigestVerify(context.get(), static_cast<const unsigned char*>(signature), signatureSize,
                            static_cast<const unsigned char*>(size ? data : ""), size) == 1;
}

std::string SignEd25519(const std::string& privateKeyPem, const void* data, size_t size)
{
    if (!data && size) return std::string();
    KeyPtr key = ReadKey(privateKeyPem, true);
    std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    if (!key || !context) return std::string();
    if (EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return std::string();
    std::string signature(kEd25519SignatureSize, '\0');
    size_t length = signature.size();
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       static_cast<const unsigned char*>(size ? data : ""), size) != 1 ||
        length != kEd25519SignatureSize)
        return std::string();
    return signature;
}
