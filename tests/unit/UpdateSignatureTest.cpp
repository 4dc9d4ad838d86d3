// Authentication of the engine update: SHA-256 of files and the Ed25519
// signature of the description against the built-in key. Signatures made by
// the openssl tool cross-check our own signer and verifier.

#include "engine/UpdateSignature.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

const std::string kDescription =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<update><file><ZDRDownloadV32.exe ver=\"1.0.0.10\" "
    "url=\"http://u/e.zip\" hash=\"http://u/e.zip.md4\" sha256=\"00\"/></file><all><all url=\"a\" hash=\"b\"/></all>"
    "</update>\r\n";

class UpdateSignatureTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zdr-sign-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_demoKey = ReadFile(ZDR_DEMO_SIGNING_KEY);
        ASSERT_FALSE(m_demoKey.empty());
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    bool Verify(const std::string& data, const std::string& signature)
    {
        return VerifyUpdateSignature(data.data(), data.size(), signature.data(), signature.size());
    }
    // The openssl tool's own Ed25519 signature of data with a PEM key file.
    std::string OpensslSign(const std::string& keyFile, const std::string& data)
    {
        const std::string in = m_dir + "/data";
        const std::string out = m_dir + "/data.sig";
        std::ofstream(in, std::ios::binary) << data;
        const std::string command =
            "openssl pkeyutl -sign -rawin -inkey '" + keyFile + "' -in '" + in + "' -out '" + out + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) return std::string();
        return ReadFile(out);
    }
    std::string NewKeyFile(const std::string& name, const std::string& algorithm)
    {
        const std::string file = m_dir + "/" + name + ".pem";
        const std::string command = std::string("openssl genpkey -algorithm ") + algorithm + " -out '" + file + "' 2>/dev/null";
        return std::system(command.c_str()) == 0 ? file : std::string();
    }

    std::string m_dir;
    std::string m_demoKey;
};

TEST_F(UpdateSignatureTest, Sha256OfKnownInputs)
{
    EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string million(1000000, 'a');
    EXPECT_EQ(Sha256Hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_F(UpdateSignatureTest, Sha256TextsCompare)
{
    const std::string lower = Sha256Hex("abc", 3);
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    EXPECT_TRUE(SameSha256Hex(lower, upper));
    EXPECT_FALSE(SameSha256Hex(lower, Sha256Hex("abd", 3)));
    EXPECT_FALSE(SameSha256Hex(lower, lower.substr(1)));
    EXPECT_FALSE(SameSha256Hex("", ""));
    const std::string notHex(64, 'g');
    EXPECT_FALSE(SameSha256Hex(notHex, notHex));
}

TEST_F(UpdateSignatureTest, TheBuiltInKeyIsTheConfiguredOne)
{
    EXPECT_EQ(std::string(UpdatePublicKeyPem()), ReadFile(ZDR_BUILT_IN_PUBLIC_KEY));
}

TEST_F(UpdateSignatureTest, AGoodSignatureVerifies)
{
    const std::string ours = SignEd25519(m_demoKey, kDescription.data(), kDescription.size());
    ASSERT_EQ(ours.size(), kEd25519SignatureSize);
    EXPECT_TRUE(Verify(kDescription, ours));
    // Ed25519 is deterministic: the openssl tool makes the same signature.
    const std::string theirs = OpensslSign(ZDR_DEMO_SIGNING_KEY, kDescription);
    ASSERT_EQ(theirs.size(), kEd25519SignatureSize);
    EXPECT_EQ(theirs, ours);
}

TEST_F(UpdateSignatureTest, AnotherKeysSignatureIsRejected)
{
    const std::string other = NewKeyFile("other", "ed25519");
    ASSERT_FALSE(other.empty());
    const std::string signature = OpensslSign(other, kDescription);
    ASSERT_EQ(signature.size(), kEd25519SignatureSize);
    EXPECT_FALSE(Verify(kDescription, signature));
    // It does verify with its own public half.
    const std::string pub = m_dir + "/other.pub.pem";
    ASSERT_EQ(std::system(("openssl pkey -in '" + other + "' -pubout -out '" + pub + "'").c_str()), 0);
    EXPECT_TRUE(VerifyEd25519(ReadFile(pub), kDescription.data(), kDescription.size(), signature.data(),
                              signature.size()));
}

TEST_F(UpdateSignatureTest, AnyChangedByteIsRejected)
{
    const std::string signature = SignEd25519(m_demoKey, kDescription.data(), kDescription.size());
    ASSERT_EQ(signature.size(), kEd25519SignatureSize);
    for (size_t at = 0; at < kDescription.size(); ++at) {
        std::string changed = kDescription;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        ASSERT_FALSE(Verify(changed, signature)) << at;
    }
    EXPECT_FALSE(Verify(kDescription + " ", signature));
    EXPECT_FALSE(Verify(kDescription.substr(0, kDescription.size() - 1), signature));
    std::string damaged = signature;
    damaged[10] = static_cast<char>(damaged[10] ^ 0x80);
    EXPECT_FALSE(Verify(kDescription, damaged));
}

TEST_F(UpdateSignatureTest, AMissingOrMisshapenSignatureIsRejected)
{
    const std::string signature = SignEd25519(m_demoKey, kDescription.data(), kDescription.size());
    EXPECT_FALSE(Verify(kDescription, ""));
    EXPECT_FALSE(VerifyUpdateSignature(kDescription.data(), kDescription.size(), nullptr, kEd25519SignatureSize));
    EXPECT_FALSE(Verify(kDescription, signature.substr(0, 63)));
    EXPECT_FALSE(Verify(kDescription, signature + "x"));
    EXPECT_FALSE(Verify(kDescription, std::string(kEd25519SignatureSize, '\0')));
}

TEST_F(UpdateSignatureTest, OnlyEd25519KeysAreAccepted)
{
    const std::string signature = SignEd25519(m_demoKey, kDescription.data(), kDescription.size());
    const std::string ec = NewKeyFile("ec", "EC -pkeyopt ec_paramgen_curve:P-256");
    ASSERT_FALSE(ec.empty());
    const std::string ecPub = m_dir + "/ec.pub.pem";
    ASSERT_EQ(std::system(("openssl pkey -in '" + ec + "' -pubout -out '" + ecPub + "'").c_str()), 0);
    EXPECT_FALSE(VerifyEd25519(ReadFile(ecPub), kDescription.data(), kDescription.size(), signature.data(),
                               signature.size()));
    EXPECT_TRUE(SignEd25519(ReadFile(ec), kDescription.data(), kDescription.size()).empty());
    EXPECT_FALSE(VerifyEd25519("not a key", kDescription.data(), kDescription.size(), signature.data(),
                               signature.size()));
    EXPECT_TRUE(SignEd25519("", kDescription.data(), kDescription.size()).empty());
    // The public half cannot sign.
    EXPECT_TRUE(SignEd25519(UpdatePublicKeyPem(), kDescription.data(), kDescription.size()).empty());
}

} // namespace
