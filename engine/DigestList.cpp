#include "engine/DigestList.h"

#include "engine/ctCMD4.h"

#include <cstring>

std::vector<unsigned char> BuildDigestList(const unsigned char* data, size_t length)
{
    std::vector<unsigned char> list;
    list.reserve((length / kDigestPieceSize + 2) * ctCMD4::kDigestSize);
    for (size_t offset = 0; offset < length; offset += kDigestPieceSize) {
        const size_t piece = length - offset < kDigestPieceSize ? length - offset : kDigestPieceSize;
        const ctCMD4::Digest digest = ctCMD4::Compute(data + offset, piece);
        list.insert(list.end(), digest.begin(), digest.end());
    }
    const ctCMD4::Digest final = ctCMD4::Compute(list.data(), list.size());
    list.insert(list.end(), final.begin(), final.end());
    return list;
}

bool DigestListMatches(const unsigned char* list, size_t listLength, const unsigned char* data, size_t length)
{
    const std::vector<unsigned char> computed = BuildDigestList(data, length);
    return list && listLength == computed.size() && memcmp(list, computed.data(), listLength) == 0;
}
