#pragma once
// MD4 message digest (RFC 1320), computed incrementally: Update any number of
// times, then Final once for the 16-byte digest; Init (or construction)
// starts a new digest. Our own small implementation: the engine's digest
// lists use MD4, which current crypto libraries keep only as a legacy
// algorithm.

#include <array>
#include <cstddef>
#include <cstdint>

class ctCMD4 {
public:
    static constexpr size_t kDigestSize = 16;
    using Digest = std::array<unsigned char, kDigestSize>;

    ctCMD4() { Init(); }

    void Init();
    void Update(const void* data, size_t length);
    // The digest of everything given since Init; the object must be Init'ed
    // again before further use.
    Digest Final();

    static Digest Compute(const void* data, size_t length);

private:
    void Transform(const unsigned char block[64]);

    uint32_t m_state[4];
    uint64_t m_length; // bytes given so far
    unsigned char m_buffer[64];
};
