// The x86 bulk kernels behind cipher/kernel.cpp. Each lives in the file of its
// instruction set, compiled for that set function by function, so the library
// builds and links for any x86 target; the dispatcher calls a kernel only after
// asking the processor whether it may.
//
// The kernels keep word i of many blocks in the 16-bit lanes of one register,
// and do the mashing lookup K[R & 63] in registers, so they read no memory at
// an address that depends on key or data.
#pragma once

#include <cstddef>
#include <cstdint>

#include <morvik/detail/wipe.h>
#include <morvik/kernel.h>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define MORVIK_X86_KERNELS 1
#else
#define MORVIK_X86_KERNELS 0
#endif

#if MORVIK_X86_KERNELS
namespace morvik::detail::x86 {

// The key copies a kernel spreads over its stack are cleared with the one
// Wipe before it returns.
using detail::Wipe;

// The block count must be a multiple of kKernelStep; in == out is allowed.
inline constexpr std::size_t kKernelStep = 8;

bool HasSSE2() noexcept;
bool HasAVX2() noexcept;
bool HasAVX512() noexcept;  // F, BW, VL and VBMI2

// 8 blocks per pass.
void EncryptSSE2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;
void DecryptSSE2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;

// 64 blocks per pass while they last (16 in 32-bit code), then 32, 16, and 8
// (in 128-bit registers).
void EncryptAVX2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;
void DecryptAVX2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;

// 128 blocks per pass while they last (32 in 32-bit code), then 64, 32, 16, 8.
void EncryptAVX512(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;
void DecryptAVX512(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept;

}  // namespace morvik::detail::x86
#endif
