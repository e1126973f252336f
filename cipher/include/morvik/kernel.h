// Morvik RC2 — the bulk ECB engine behind every RC2 member.
//
// Several kernels give bit-identical results; the engine runs the widest one
// the processor offers while enough blocks remain and finishes with narrower
// ones. The processor alone decides which: the library reads no setting.
// Tests, benchmarks and the tool's diagnostic option force one path with
// ForceKernel(); forcing a kernel this machine or build lacks falls back to
// the best one available.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace morvik {

enum class Kernel { Auto, Scalar, SSE2, AVX2, AVX512 };  // AVX512: F, BW, VL and VBMI2

const char* KernelName(Kernel kernel) noexcept;                    // "auto", "scalar", "sse2", "avx2", "avx512"
std::optional<Kernel> KernelNamed(std::string_view name) noexcept; // KernelName's inverse
bool KernelAvailable(Kernel kernel) noexcept;                      // Auto and Scalar: always
std::vector<Kernel> AvailableKernels();                            // Scalar first, widest last
void ForceKernel(Kernel kernel) noexcept;                          // Auto: choose by processor
Kernel ActiveKernel() noexcept;                                    // never Auto

namespace detail {

// K(0..63) of RFC 2268 as native 16-bit words.
struct KeySchedule {
    alignas(32) std::uint16_t K[64];
};

// ECB over `blocks` 8-byte blocks; in == out is allowed.
void EncryptBlocks(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;
void DecryptBlocks(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;

// The portable one-block reference, used for tails and as the test oracle.
void EncryptBlocksScalar(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;
void DecryptBlocksScalar(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;

}  // namespace detail
}  // namespace morvik
