#include "engine/ctCMD4.h"

#include <cstring>

namespace {

constexpr size_t kBlockSize = 64;

inline uint32_t RotateLeft(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }

constexpr uint32_t kRound2 = 0x5A827999;
constexpr uint32_t kRound3 = 0x6ED9EBA1;

} // namespace

void ctCMD4::Init()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xEFCDAB89;
    m_state[2] = 0x98BADCFE;
    m_state[3] = 0x10325476;
    m_length = 0;
}

void ctCMD4::Transform(const unsigned char block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = static_cast<uint32_t>(block[i * 4]) | static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
            static_cast<uint32_t>(block[i * 4 + 2]) << 16 | static_cast<uint32_t>(block[i * 4 + 3]) << 24;
    }
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];

    static const int kShift1[4] = {3, 7, 11, 19};
    for (int i = 0; i < 16; ++i) {
        const uint32_t t = a + F(b, c, d) + x[i];
        a = d;
        d = c;
        c = b;
        b = RotateLeft(t, kShift1[i % 4]);
    }
    static const int kShift2[4] = {3, 5, 9, 13};
    static const int kOrder2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    for (int i = 0; i < 16; ++i) {
        const uint32_t t = a + G(b, c, d) + x[kOrder2[i]] + kRound2;
        a = d;
        d = c;
        c = b;
        b = RotateLeft(t, kShift2[i % 4]);
    }
    static const int kShift3[4] = {3, 9, 11, 15};
    static const int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int i = 0; i < 16; ++i) {
        const uint32_t t = a + H(b, c, d) + x[kOrder3[i]] + kRound3;
        a = d;
        d = c;
        c = b;
        b = RotateLeft(t, kShift3[i % 4]);
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void ctCMD4::Update(const void* data, size_t length)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    size_t used = static_cast<size_t>(m_length % kBlockSize);
    m_length += length;
    if (used) {
        const size_t take = length < kBlockSize - used ? length : kBlockSize - used;
        memcpy(m_buffer + used, bytes, take);
        bytes += take;
        length -= take;
        used += take;
        if (used < kBlockSize) return;
        Transform(m_buffer);
    }
    for (; length >= kBlockSize; bytes += kBlockSize, length -= kBlockSize) Transform(bytes);
    if (length) memcpy(m_buffer, bytes, length);
}

ctCMD4::Digest ctCMD4::Final()
{
    const uint64_t bits = m_length * 8;
    unsigned char padding[kBlockSize] = {0x80};
    const size_t used = static_cast<size_t>(m_length % kBlockSize);
    const size_t padLength = used < 56 ? 56 - used : 120 - used;
    Update(padding, padLength);
    unsigned char lengthBytes[8];
    for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    Update(lengthBytes, sizeof lengthBytes);
    Digest digest;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = static_cast<unsigned char>(m_state[i] >> (8 * j));
    return digest;
}

ctCMD4::Digest ctCMD4::Compute(const void* data, size_t length)
{
    ctCMD4 md4;
    md4.Update(data, length);
    return md4.Final();
}
