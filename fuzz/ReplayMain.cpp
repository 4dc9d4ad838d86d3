// A main for the fuzz targets in the ordinary test builds: every input of
// the given files and folders goes once through the target, so the seed
// corpora (and findings kept there) are replayed by the test suite with the
// build's own sanitizers, without libFuzzer. Random mutation stays with the
// libFuzzer build.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool ReadWhole(const std::filesystem::path& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Inputs in name order, so a failing run names the same input every time.
std::vector<std::filesystem::path> Inputs(const char* arg)
{
    std::vector<std::filesystem::path> inputs;
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
        for (const auto& entry : std::filesystem::directory_iterator(arg, error))
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
    } else {
        inputs.emplace_back(arg);
    }
    return inputs;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& input : Inputs(argv[i])) {
            std::vector<uint8_t> bytes;
            if (!ReadWhole(input, bytes)) {
                fprintf(stderr, "cannot read %s\n", input.c_str());
                return 1;
            }
            fprintf(stderr, "replaying %s (%zu bytes)\n", input.c_str(), bytes.size());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    if (replayed == 0) {
        fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    fprintf(stderr, "%zu inputs replayed\n", replayed);
    return 0;
}
