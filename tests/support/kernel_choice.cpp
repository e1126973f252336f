#include "tests/support/kernel_choice.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include <morvik/kernel.h>

namespace morvik::test {
namespace {

Kernel g_requested = Kernel::Auto;

}  // namespace

Kernel RequestedKernel() noexcept { return g_requested; }

int ForceRequestedKernel(int& argc, char** argv) {
    constexpr std::string_view kFlag = "--kernel=";
    std::optional<std::string_view> wanted;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg.substr(0, kFlag.size()) == kFlag) wanted = arg.substr(kFlag.size());
        else argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    if (!wanted) {
        if (const char* env = std::getenv("MORVIK_TEST_KERNEL"); env != nullptr && *env != '\0') wanted = env;
    }
    if (!wanted) return 0;

    const std::optional<Kernel> kernel = KernelNamed(*wanted);
    if (!kernel) {
        std::fprintf(stderr, "kernel '%.*s' is none of auto, scalar, sse2, avx2, avx512\n",
                     static_cast<int>(wanted->size()), wanted->data());
        return 2;
    }
    if (!KernelAvailable(*kernel)) {
        std::fprintf(stderr, "kernel %s: this processor or build lacks it; skipped\n", KernelName(*kernel));
        return kKernelMissing;
    }
    ForceKernel(*kernel);
    g_requested = *kernel;
    // Forcing must take, or every result below would be for another kernel.
    if (*kernel != Kernel::Auto && ActiveKernel() != *kernel) {
        std::fprintf(stderr, "kernel %s: forced, but %s is active\n", KernelName(*kernel), KernelName(ActiveKernel()));
        return 1;
    }
    std::fprintf(stderr, "kernel: %s (forced)\n", KernelName(ActiveKernel()));
    return 0;
}

}  // namespace morvik::test
