// The 7z extraction (ExtractArchive with kArchive7z, C7ZipExtractAction)
// on any archive bytes, with the path-confinement rule as the oracle
// (fuzz/ExtractOracle.h): nothing lands outside the destination, no link
// inside it leads out, and a failed extraction leaves nothing behind.
//
// Input: the archive.

#include "ExtractOracle.h"
#include "engine/ExtractArchive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static fuzz::ExtractOracle oracle;
    const std::string folder = oracle.Destination();
    const int result = ExtractArchive(kArchive7z, data, static_cast<uint32_t>(size), 0, folder.c_str());
    FUZZ_CHECK(result == 0 || result == kExtractFailed);
    oracle.Check(result == 0);
    return 0;
}
