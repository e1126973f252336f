#include <morvik/kernel.h>

#include <atomic>
#include <cstring>

#include "block.h"
#include "x86/kernels.h"

namespace morvik {
namespace detail {

namespace {

// Two blocks at a time where there are two, then the last one alone: short
// messages (a database value is often two or three blocks) never reach the
// vector kernels, and two interleaved blocks take little longer than one.
template <bool Encrypting>
MORVIK_TRANSFORM_INLINE void ScalarBlocks(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    for (; blocks >= 2; blocks -= 2, in += 16, out += 16) {
        // One load of both blocks: the bytes were often just written in
        // smaller pieces (an armour or hex decoder's groups), and loads that
        // each straddle several such stores wait for every one of them.
        std::uint8_t pair[16];
        std::memcpy(pair, in, sizeof pair);
        Block b[2] = {LoadBlock(pair), LoadBlock(pair + 8)};
        if constexpr (Encrypting) EncryptInterleaved<2>(ks.K, b);
        else DecryptInterleaved<2>(ks.K, b);
        StoreBlock(b[0], out);
        StoreBlock(b[1], out + 8);
    }
    if (blocks == 1) {
        Block b = LoadBlock(in);
        if constexpr (Encrypting) EncryptBlock(ks.K, b);
        else DecryptBlock(ks.K, b);
        StoreBlock(b, out);
    }
}

#if MORVIK_X86_KERNELS
// The same loop where the processor has BMI1: its andn computes a mixing
// step's ~r1 & r3 in one instruction instead of three, and two interleaved
// blocks are limited by how many instructions issue, not by their chains.
template <bool Encrypting>
__attribute__((target("bmi"))) void ScalarBlocksBmi(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out,
                                                    std::size_t blocks) noexcept {
    ScalarBlocks<Encrypting>(ks, in, out, blocks);
}

bool HasBmi() noexcept {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("bmi");
    }();
    return has;
}
#endif

}  // namespace

void EncryptBlocksScalar(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    ScalarBlocks<true>(ks, in, out, blocks);
}

void DecryptBlocksScalar(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    ScalarBlocks<false>(ks, in, out, blocks);
}

}  // namespace detail

namespace {

constexpr int kUnset = -1;
std::atomic<int> g_forced{kUnset};  // a Kernel value once decided

Kernel Best() noexcept {
    if (KernelAvailable(Kernel::AVX512)) return Kernel::AVX512;
    if (KernelAvailable(Kernel::AVX2)) return Kernel::AVX2;
    if (KernelAvailable(Kernel::SSE2)) return Kernel::SSE2;
    return Kernel::Scalar;
}

Kernel Resolve(Kernel wanted) noexcept {
    return wanted == Kernel::Auto || !KernelAvailable(wanted) ? Best() : wanted;
}

}  // namespace

const char* KernelName(Kernel kernel) noexcept {
    switch (kernel) {
        case Kernel::Auto:   return "auto";
        case Kernel::Scalar: return "scalar";
        case Kernel::SSE2:   return "sse2";
        case Kernel::AVX2:   return "avx2";
        case Kernel::AVX512: return "avx512";
    }
    return "";
}

std::optional<Kernel> KernelNamed(std::string_view name) noexcept {
    for (Kernel k : {Kernel::Auto, Kernel::Scalar, Kernel::SSE2, Kernel::AVX2, Kernel::AVX512})
        if (name == KernelName(k)) return k;
    return std::nullopt;
}

bool KernelAvailable(Kernel kernel) noexcept {
    switch (kernel) {
        case Kernel::Auto:
        case Kernel::Scalar: return true;
#if MORVIK_X86_KERNELS
        case Kernel::SSE2: {
            static const bool has = detail::x86::HasSSE2();
            return has;
        }
        case Kernel::AVX2: {
            static const bool has = detail::x86::HasAVX2();
            return has;
        }
        case Kernel::AVX512: {
            static const bool has = detail::x86::HasAVX512();
            return has;
        }
#else
        case Kernel::SSE2:
        case Kernel::AVX2:
        case Kernel::AVX512: return false;
#endif
    }
    return false;
}

std::vector<Kernel> AvailableKernels() {
    std::vector<Kernel> kernels;
    for (Kernel k : {Kernel::Scalar, Kernel::SSE2, Kernel::AVX2, Kernel::AVX512})
        if (KernelAvailable(k)) kernels.push_back(k);
    return kernels;
}

void ForceKernel(Kernel kernel) noexcept { g_forced.store(static_cast<int>(Resolve(kernel))); }

Kernel ActiveKernel() noexcept {
    int k = g_forced.load(std::memory_order_relaxed);
    if (k == kUnset) {
        k = static_cast<int>(Best());
        g_forced.store(k, std::memory_order_relaxed);
    }
    return static_cast<Kernel>(k);
}

namespace detail {

namespace {

using BlocksFunction = void (*)(const KeySchedule&, const std::uint8_t*, std::uint8_t*, std::size_t) noexcept;

// The vector kernels take whole steps of blocks, widest first inside each
// kernel; the scalar reference finishes the remaining 0..7 blocks.
void Run(BlocksFunction vector, BlocksFunction scalar, const KeySchedule& ks, const std::uint8_t* in,
         std::uint8_t* out, std::size_t blocks) noexcept {
#if MORVIK_X86_KERNELS
    const std::size_t whole = blocks / x86::kKernelStep * x86::kKernelStep;
    if (vector != nullptr && whole != 0) {
        vector(ks, in, out, whole);
        in += 8 * whole;
        out += 8 * whole;
        blocks -= whole;
    }
#endif
    scalar(ks, in, out, blocks);
}

// The scalar loop for what the vector kernels leave, or for everything when
// none runs: the BMI build of it where the processor has BMI1.
BlocksFunction ScalarEncrypt() noexcept {
#if MORVIK_X86_KERNELS
    if (HasBmi()) return ScalarBlocksBmi<true>;
#endif
    return EncryptBlocksScalar;
}

BlocksFunction ScalarDecrypt() noexcept {
#if MORVIK_X86_KERNELS
    if (HasBmi()) return ScalarBlocksBmi<false>;
#endif
    return DecryptBlocksScalar;
}

BlocksFunction VectorEncrypt() noexcept {
#if MORVIK_X86_KERNELS
    switch (ActiveKernel()) {
        case Kernel::AVX512: return x86::EncryptAVX512;
        case Kernel::AVX2: return x86::EncryptAVX2;
        case Kernel::SSE2: return x86::EncryptSSE2;
        default:           break;
    }
#endif
    return nullptr;
}

BlocksFunction VectorDecrypt() noexcept {
#if MORVIK_X86_KERNELS
    switch (ActiveKernel()) {
        case Kernel::AVX512: return x86::DecryptAVX512;
        case Kernel::AVX2: return x86::DecryptAVX2;
        case Kernel::SSE2: return x86::DecryptSSE2;
        default:           break;
    }
#endif
    return nullptr;
}

}  // namespace

void EncryptBlocks(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Run(VectorEncrypt(), ScalarEncrypt(), ks, in, out, blocks);
}

void DecryptBlocks(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Run(VectorDecrypt(), ScalarDecrypt(), ks, in, out, blocks);
}

}  // namespace detail
}  // namespace morvik
