// The RC2 transform of one 64-bit block (RFC 2268, section 3), the portable
// reference that the bulk kernels must match bit for bit. constexpr, so the
// compiler itself checks the edge cases below.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// The transforms are inlined into every loop that calls them, so that a loop
// compiled for more instructions (BMI) gets them in its own code.
#if defined(__GNUC__)
#define MORVIK_TRANSFORM_INLINE [[gnu::always_inline]] inline
#else
#define MORVIK_TRANSFORM_INLINE inline
#endif

namespace morvik::detail {

// Bits 0..15 of `value` rotated by `count` (0..16); higher bits take no part.
constexpr std::uint16_t RotateLeft(std::uint32_t value, unsigned count) noexcept {
    const std::uint32_t v = value & 0xFFFFu;
    return static_cast<std::uint16_t>(((v << count) | (v >> (16 - count))) & 0xFFFFu);
}

constexpr std::uint16_t RotateRight(std::uint32_t value, unsigned count) noexcept {
    const std::uint32_t v = value & 0xFFFFu;
    return static_cast<std::uint16_t>(((v >> count) | (v << (16 - count))) & 0xFFFFu);
}

static_assert(RotateLeft(32768, 1) == 1 && RotateRight(1, 1) == 32768);
static_assert(RotateLeft(1, 5) == 32 && RotateLeft(65536, 1) == 0);
static_assert(RotateLeft(0x1234, 0) == 0x1234 && RotateLeft(0x1234, 16) == 0x1234);
static_assert(RotateRight(0x1234, 0) == 0x1234 && RotateRight(0x1234, 16) == 0x1234);

struct Block {
    std::uint16_t R[4];
};

// Little-endian words: the first byte of each pair is the low byte.
constexpr Block LoadBlock(const std::uint8_t* in) noexcept {
    if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
        // One 8-byte load; byte by byte, the compiler assembles the words
        // with a dozen shuffles.
        Block b;
        std::memcpy(b.R, in, sizeof b.R);
        return b;
    }
    Block b{};
    for (int k = 0; k < 4; ++k)
        b.R[k] = static_cast<std::uint16_t>(in[2 * k] | (in[2 * k + 1] << 8));
    return b;
}

constexpr void StoreBlock(const Block& b, std::uint8_t* out) noexcept {
    if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
        std::memcpy(out, b.R, sizeof b.R);
        return;
    }
    for (int k = 0; k < 4; ++k) {
        out[2 * k]     = static_cast<std::uint8_t>(b.R[k] & 0xFF);
        out[2 * k + 1] = static_cast<std::uint8_t>(b.R[k] >> 8);
    }
}

inline constexpr unsigned kRotation[4] = {1, 2, 3, 5};

// The transforms of N independent blocks, interleaved word by word: one
// block's steps each wait on the step before (select, add, rotate), so a
// single block leaves most of the core idle, and a second one beside it
// costs little more. N = 1 is the plain transform.
template <int N> MORVIK_TRANSFORM_INLINE constexpr void EncryptInterleaved(const std::uint16_t* K, Block* b) noexcept {
    unsigned j = 0;
    // Unrolled, the words stay in registers and each index is a constant;
    // as loops, every step recomputes its indexes through memory.
    auto mix = [&] {
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
#pragma GCC unroll 4
            for (int n = 0; n < N; ++n) {
                std::uint16_t* R = b[n].R;
                const std::uint16_t r1 = R[(i + 3) & 3], r2 = R[(i + 2) & 3], r3 = R[(i + 1) & 3];
                const std::uint32_t sum = R[i] + K[j] + (r1 & r2) + (static_cast<std::uint16_t>(~r1) & r3);
                R[i] = RotateLeft(sum, kRotation[i]);
            }
            ++j;
        }
    };
    auto mash = [&] {
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i)
#pragma GCC unroll 4
            for (int n = 0; n < N; ++n) {
                std::uint16_t* R = b[n].R;
                R[i] = static_cast<std::uint16_t>(R[i] + K[R[(i + 3) & 3] & 63]);
            }
    };
#pragma GCC unroll 5
    for (int r = 0; r < 5; ++r) mix();
    mash();
#pragma GCC unroll 6
    for (int r = 0; r < 6; ++r) mix();
    mash();
#pragma GCC unroll 5
    for (int r = 0; r < 5; ++r) mix();
}

template <int N> MORVIK_TRANSFORM_INLINE constexpr void DecryptInterleaved(const std::uint16_t* K, Block* b) noexcept {
    int j = 63;
    auto rmix = [&] {
#pragma GCC unroll 4
        for (int i = 3; i >= 0; --i) {
#pragma GCC unroll 4
            for (int n = 0; n < N; ++n) {
                std::uint16_t* R = b[n].R;
                const std::uint16_t r1 = R[(i + 3) & 3], r2 = R[(i + 2) & 3], r3 = R[(i + 1) & 3];
                const std::uint32_t rotated = RotateRight(R[i], kRotation[i]);
                R[i] = static_cast<std::uint16_t>(rotated - K[j] - (r1 & r2) - (static_cast<std::uint16_t>(~r1) & r3));
            }
            --j;
        }
    };
    auto rmash = [&] {
#pragma GCC unroll 4
        for (int i = 3; i >= 0; --i)
#pragma GCC unroll 4
            for (int n = 0; n < N; ++n) {
                std::uint16_t* R = b[n].R;
                R[i] = static_cast<std::uint16_t>(R[i] - K[R[(i + 3) & 3] & 63]);
            }
    };
#pragma GCC unroll 5
    for (int r = 0; r < 5; ++r) rmix();
    rmash();
#pragma GCC unroll 6
    for (int r = 0; r < 6; ++r) rmix();
    rmash();
#pragma GCC unroll 5
    for (int r = 0; r < 5; ++r) rmix();
}

constexpr void EncryptBlock(const std::uint16_t* K, Block& b) noexcept { EncryptInterleaved<1>(K, &b); }
constexpr void DecryptBlock(const std::uint16_t* K, Block& b) noexcept { DecryptInterleaved<1>(K, &b); }

namespace checks {
constexpr bool ZeroKeyKeepsZeroBlock() {
    std::uint16_t K[64]{};
    Block b{};
    EncryptBlock(K, b);
    return b.R[0] == 0 && b.R[1] == 0 && b.R[2] == 0 && b.R[3] == 0;
}
constexpr bool LoadsLittleEndian() {
    const std::uint8_t in[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    const Block b = LoadBlock(in);
    std::uint8_t out[8]{};
    StoreBlock(b, out);
    bool same = true;
    for (int i = 0; i < 8; ++i) same = same && out[i] == in[i];
    return same && b.R[0] == 0x0100 && b.R[1] == 0x0302 && b.R[2] == 0x0504 && b.R[3] == 0x0706;
}
constexpr bool RoundTrips() {
    std::uint16_t K[64]{};
    for (int i = 0; i < 64; ++i) K[i] = static_cast<std::uint16_t>(i * 40503u + 7u);
    Block b{{0xFFFF, 0x0001, 0x8000, 0x1234}};
    const Block orig = b;
    EncryptBlock(K, b);
    const bool changed = b.R[0] != orig.R[0] || b.R[1] != orig.R[1];
    DecryptBlock(K, b);
    return changed && b.R[0] == orig.R[0] && b.R[1] == orig.R[1] && b.R[2] == orig.R[2] && b.R[3] == orig.R[3];
}
// Interleaved blocks must each come out as the block alone does.
constexpr bool PairsMatchSingles() {
    std::uint16_t K[64]{};
    for (int i = 0; i < 64; ++i) K[i] = static_cast<std::uint16_t>(i * 28411u + 3u);
    Block pair[2] = {{{0x0123, 0x4567, 0x89AB, 0xCDEF}}, {{0xFFFF, 0x0000, 0x8001, 0x7FFE}}};
    Block one = pair[0], two = pair[1];
    EncryptInterleaved<2>(K, pair);
    EncryptBlock(K, one);
    EncryptBlock(K, two);
    bool same = true;
    for (int k = 0; k < 4; ++k) same = same && pair[0].R[k] == one.R[k] && pair[1].R[k] == two.R[k];
    DecryptInterleaved<2>(K, pair);
    DecryptBlock(K, one);
    DecryptBlock(K, two);
    for (int k = 0; k < 4; ++k) same = same && pair[0].R[k] == one.R[k] && pair[1].R[k] == two.R[k];
    return same;
}
static_assert(ZeroKeyKeepsZeroBlock());
static_assert(PairsMatchSingles());
static_assert(LoadsLittleEndian());
static_assert(RoundTrips());
}  // namespace checks

}  // namespace morvik::detail
