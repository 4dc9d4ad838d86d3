#include "netlib/Lib_SSL/COpenSSL.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqLog.h"
#include "netlib/http/nwCHttpMimeTypeMap.h"
#include "netlib/runtime/CVyx.h"
#include "netlib/runtime/cpCQoS.h"
#include "netlib/runtime/cpCTimerManager.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_lines;
void Collect(const char* line)
{
    g_lines.emplace_back(line);
}

// A self-signed certificate made now, as PEM text.
std::string MakeCertificatePem()
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("zdr-test"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_sign(certificate, key, EVP_sha256());
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(out, certificate);
    char* data = nullptr;
    long length = BIO_get_mem_data(out, &data);
    std::string pem(data, static_cast<size_t>(length));
    BIO_free(out);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return pem;
}

} // namespace

TEST(CVyx, StartsAndRemovesTheRuntime)
{
    vqSmartPtr lock;
    ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
    vqSetLogSink(&Collect);
    {
        CVyx network(lock.As<cpCMutex>());
        EXPECT_NE(cpCTimerManager::Get(), nullptr);
        EXPECT_NE(cpCQoS::Get(), nullptr);
        EXPECT_NE(cpCQoS::Get()->Window(), nullptr);
        EXPECT_EQ(COpenSSL::CertificateCount(), 0);
        EXPECT_EQ(network.Shutdown(), VQ_OK_PLATFORM);
    }
    EXPECT_EQ(cpCTimerManager::Get(), nullptr);
    EXPECT_EQ(cpCQoS::Get(), nullptr);
    EXPECT_TRUE(g_lines.empty()); // the built-in table is empty
    vqSetLogSink(nullptr);
}

TEST(CVyx, OnlyReadableCertificatesAreTrustedAndLogged)
{
    vqSmartPtr lock;
    ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
    vqSetLogSink(&Collect);
    const std::string pem = MakeCertificatePem();
    const CVyxCertificate table[] = {
        {"broken", "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n"},
        {"portal", pem.c_str()},
        {"missing", nullptr},
        {nullptr, nullptr},
    };
    CVyx network(lock.As<cpCMutex>(), table);
    EXPECT_EQ(g_lines, (std::vector<std::string>{"Add Certificate Ok - portal\n"}));
    EXPECT_EQ(COpenSSL::CertificateCount(), 1);
    EXPECT_NE(COpenSSL::FindCertificate("portal"), nullptr);
    EXPECT_EQ(COpenSSL::FindCertificate("broken"), nullptr);
    network.Shutdown();
    EXPECT_EQ(COpenSSL::CertificateCount(), 0);
    vqSetLogSink(nullptr);
}

TEST(CVyx, StartsAndStopsAHundredTimes)
{
    vqSmartPtr lock;
    ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
    for (int i = 0; i < 100; ++i) {
        auto network = std::make_unique<CVyx>(lock.As<cpCMutex>());
        ASSERT_NE(cpCQoS::Get(), nullptr);
        network->Shutdown();
        network.reset();
        ASSERT_EQ(cpCQoS::Get(), nullptr);
        ASSERT_EQ(cpCTimerManager::Get(), nullptr);
    }
}

TEST(CVyx, ASecondRuntimeBesideALiveOneIsNotUpAndLeavesTheFirstAlone)
{
    vqSmartPtr lock;
    ASSERT_TRUE(lock.CreateInstance(CLSID_cpCMutex));
    CVyx first(lock.As<cpCMutex>());
    EXPECT_TRUE(first.IsUp());
    cpCQoS* sockets = cpCQoS::Get();
    cpCTimerManager* timers = cpCTimerManager::Get();
    {
        vqSmartPtr otherLock;
        ASSERT_TRUE(otherLock.CreateInstance(CLSID_cpCMutex));
        CVyx second(otherLock.As<cpCMutex>());
        EXPECT_FALSE(second.IsUp());
    }
    EXPECT_EQ(cpCQoS::Get(), sockets);
    EXPECT_EQ(cpCTimerManager::Get(), timers);
    first.Shutdown();
}
