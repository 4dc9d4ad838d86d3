#pragma once
// The digest list of an engine file: the MD4 of each consecutive 1 MiB piece
// of its data (the last piece possibly shorter), followed by the MD4 of those
// piece digests concatenated. Empty data has no pieces: its list is the MD4 of
// the empty input alone (16 bytes).

#include <cstddef>
#include <vector>

constexpr size_t kDigestPieceSize = 1048576;

std::vector<unsigned char> BuildDigestList(const unsigned char* data, size_t length);

// Whether list is exactly the digest list of the data: a list that is shorter
// (it would leave data unchecked) or longer than the computed one never
// matches.
bool DigestListMatches(const unsigned char* list, size_t listLength, const unsigned char* data, size_t length);
