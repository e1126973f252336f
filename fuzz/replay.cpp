// Runs a fuzz target without a fuzzing engine: over the files and folders on
// the command line (a corpus), then over random inputs from a fixed seed, so
// that CTest exercises every target on every build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/support/kernel_choice.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = morvik::test::ForceRequestedKernel(argc, argv); status != 0) return status;
    std::size_t files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
                if (entry.is_regular_file()) RunFile(entry.path()), ++files;
        } else {
            RunFile(arg), ++files;
        }
    }
    std::mt19937_64 rng(2268);
    const char alphabet[] = "0123456789abcdefABCDEFZz+-/= \t\n\x80\xff";
    std::vector<std::uint8_t> buf;
    constexpr int kRandomInputs = 20000;
    for (int n = 0; n < kRandomInputs; ++n) {
        buf.resize(rng() % 300);
        // Half the inputs are drawn from characters that the text forms read.
        for (auto& b : buf) b = n % 2 ? static_cast<std::uint8_t>(rng()) : static_cast<std::uint8_t>(alphabet[rng() % (sizeof alphabet - 1)]);
        LLVMFuzzerTestOneInput(buf.data(), buf.size());
    }
    std::printf("replayed %zu corpus files and %d random inputs\n", files, kRandomInputs);
    return 0;
}
