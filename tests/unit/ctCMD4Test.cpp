// MD4 against the RFC 1320 test suite and, for random data of several sizes,
// against OpenSSL's own MD4 (the openssl command with its legacy provider,
// and the library in this process); the 1 MiB-piece digest lists against an
// independent computation with OpenSSL.

#include "engine/DigestList.h"
#include "engine/ctCMD4.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const unsigned char* bytes, size_t length)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

std::string Hex(const ctCMD4::Digest& digest)
{
    return Hex(digest.data(), digest.size());
}

std::vector<unsigned char> RandomBytes(size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(length);
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

// OpenSSL's MD4 through its legacy provider; null when this OpenSSL has none.
class OpenSslMd4 {
public:
    OpenSslMd4()
    {
        m_legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        m_default = OSSL_PROVIDER_load(nullptr, "default");
        if (m_legacy) m_md = EVP_MD_fetch(nullptr, "MD4", nullptr);
    }
    ~OpenSslMd4()
    {
        EVP_MD_free(m_md);
        if (m_legacy) OSSL_PROVIDER_unload(m_legacy);
        if (m_default) OSSL_PROVIDER_unload(m_default);
    }
    bool Available() const { return m_md != nullptr; }
    std::string Digest(const unsigned char* data, size_t length) const
    {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int outLength = 0;
        EXPECT_EQ(EVP_Digest(data, length, out, &outLength, m_md, nullptr), 1);
        return Hex(out, outLength);
    }

private:
    OSSL_PROVIDER* m_legacy = nullptr;
    OSSL_PROVIDER* m_default = nullptr;
    EVP_MD* m_md = nullptr;
};

} // namespace

TEST(ctCMD4, Rfc1320TestSuite)
{
    const struct {
        const char* message;
        const char* digest;
    } cases[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    for (const auto& c : cases) {
        const std::string message = c.message;
        EXPECT_EQ(Hex(ctCMD4::Compute(message.data(), message.size())), c.digest) << message;
        // The same through incremental updates, split at every offset.
        for (size_t split = 0; split <= message.size(); ++split) {
            ctCMD4 md4;
            md4.Update(message.data(), split);
            md4.Update(message.data() + split, message.size() - split);
            EXPECT_EQ(Hex(md4.Final()), c.digest) << message << " split at " << split;
        }
        ctCMD4 md4;
        for (char byte : message) md4.Update(&byte, 1);
        EXPECT_EQ(Hex(md4.Final()), c.digest) << message << " byte by byte";
        md4.Init();
        md4.Update(message.data(), message.size());
        EXPECT_EQ(Hex(md4.Final()), c.digest) << message << " after Init";
    }
}

TEST(ctCMD4, RandomDataAgainstOpensslCommand)
{
    if (system("openssl dgst -md4 -provider legacy -provider default /dev/null >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "this openssl has no MD4";
    char path[] = "/tmp/zdr-md4-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    for (size_t length : {size_t(0), size_t(1), size_t(55), size_t(56), size_t(63), size_t(64), size_t(65),
                          size_t(119), size_t(120), size_t(4097), size_t(1048576 + 3)}) {
        const std::vector<unsigned char> data = RandomBytes(length, static_cast<unsigned>(length));
        FILE* file = fopen(path, "wb");
        ASSERT_NE(file, nullptr);
        if (!data.empty()) {
            ASSERT_EQ(fwrite(data.data(), 1, data.size(), file), data.size());
        }
        fclose(file);
        const std::string command = std::string("openssl dgst -md4 -provider legacy -provider default -r ") + path;
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[256] = {};
        ASSERT_NE(fgets(line, sizeof line, pipe), nullptr);
        pclose(pipe);
        EXPECT_EQ(Hex(ctCMD4::Compute(data.data(), data.size())), std::string(line, 32)) << length;
    }
    unlink(path);
}

TEST(ctCMD4, RandomDataAgainstOpensslLibrary)
{
    OpenSslMd4 openssl;
    if (!openssl.Available()) GTEST_SKIP() << "this OpenSSL has no MD4";
    std::mt19937 random(4);
    for (int round = 0; round < 200; ++round) {
        const std::vector<unsigned char> data = RandomBytes(random() % 3000, static_cast<unsigned>(round));
        // Fed in random chunks.
        ctCMD4 md4;
        size_t offset = 0;
        while (offset < data.size()) {
            const size_t chunk = std::min<size_t>(data.size() - offset, random() % 200);
            md4.Update(data.data() + offset, chunk);
            offset += chunk;
        }
        EXPECT_EQ(Hex(md4.Final()), openssl.Digest(data.data(), data.size())) << data.size();
    }
}

TEST(DigestList, PiecesOfOneMebibyte)
{
    OpenSslMd4 openssl;
    if (!openssl.Available()) GTEST_SKIP() << "this OpenSSL has no MD4";
    const size_t kMiB = 1048576;
    struct Case {
        size_t length;
        size_t listLength;
    } cases[] = {{0, 16}, {1, 32}, {kMiB - 1, 32}, {kMiB, 32}, {kMiB + 1, 48}, {3 * kMiB + 7, 80}};
    for (const Case& c : cases) {
        const std::vector<unsigned char> data = RandomBytes(c.length, 7);
        const std::vector<unsigned char> list = BuildDigestList(data.data(), data.size());
        ASSERT_EQ(list.size(), c.listLength) << c.length;
        // Independently: each piece's digest, then the digest of them all.
        std::string pieces;
        std::vector<unsigned char> pieceBytes;
        for (size_t offset = 0; offset < c.length; offset += kMiB) {
            const size_t piece = std::min(kMiB, c.length - offset);
            pieces += openssl.Digest(data.data() + offset, piece);
        }
        for (size_t i = 0; i < pieces.size(); i += 2)
            pieceBytes.push_back(static_cast<unsigned char>(std::stoi(pieces.substr(i, 2), nullptr, 16)));
        const std::string expected = pieces + openssl.Digest(pieceBytes.data(), pieceBytes.size());
        EXPECT_EQ(Hex(list.data(), list.size()), expected) << c.length;

        EXPECT_TRUE(DigestListMatches(list.data(), list.size(), data.data(), data.size()));
        // Shorter and longer lists never match; neither does a changed byte.
        EXPECT_FALSE(DigestListMatches(list.data(), list.size() - 16, data.data(), data.size()));
        std::vector<unsigned char> longer = list;
        longer.resize(list.size() + 16);
        EXPECT_FALSE(DigestListMatches(longer.data(), longer.size(), data.data(), data.size()));
        std::vector<unsigned char> changed = list;
        changed.back() ^= 1;
        EXPECT_FALSE(DigestListMatches(changed.data(), changed.size(), data.data(), data.size()));
    }
    EXPECT_EQ(Hex(BuildDigestList(nullptr, 0).data(), 16), "31d6cfe0d16ae931b73c59d7e0c089c0");
}
