#pragma once
// Cuts a fuzz input into the pieces a peer's bytes arrive in: the first byte
// seeds the cut points, the rest is the stream. The same input always gives
// the same pieces, so a finding replays exactly.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

struct Chunked {
    std::string stream;
    std::vector<std::string> pieces;
};

inline Chunked CutIntoPieces(const uint8_t* data, size_t size)
{
    Chunked out;
    if (size == 0) return out;
    out.stream.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    // A small linear congruential sequence: piece lengths 1..64, or the
    // whole rest at once when the seed is 0.
    uint32_t state = data[0];
    size_t at = 0;
    while (at < out.stream.size()) {
        size_t length = out.stream.size() - at;
        if (data[0] != 0) {
            state = state * 1103515245u + 12345u;
            length = std::min<size_t>(length, 1 + (state >> 16) % 64);
        }
        out.pieces.push_back(out.stream.substr(at, length));
        at += length;
    }
    return out;
}

} // namespace fuzz
