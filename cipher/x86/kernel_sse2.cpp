// The SSE2 kernel: 8 blocks in the eight 16-bit lanes of four registers (one
// register per block word). SSE2 has no byte shuffle with a variable control,
// so the mashing lookup is a tree of masked selects over all 64 key words: the
// price of reading no memory at a data-chosen address on every x86_64 and on
// the oldest processors the 32-bit library still serves. The rounds are those
// of the wider kernels (rounds.inl), on 128-bit registers.
#include "kernels.h"

#if MORVIK_X86_KERNELS
#include <emmintrin.h>

// The templates of rounds.inl take __m128i as an argument, which drops its
// may_alias attribute; the kernel never reads other types through it.
#pragma GCC diagnostic ignored "-Wignored-attributes"

#define MORVIK_SSE2        __attribute__((target("sse2")))
#define MORVIK_SSE2_INLINE __attribute__((target("sse2"), always_inline)) inline

namespace morvik::detail::x86 {
namespace {

using V = __m128i;

MORVIK_SSE2_INLINE V Add(V a, V b) { return _mm_add_epi16(a, b); }
MORVIK_SSE2_INLINE V Sub(V a, V b) { return _mm_sub_epi16(a, b); }
MORVIK_SSE2_INLINE V And(V a, V b) { return _mm_and_si128(a, b); }
MORVIK_SSE2_INLINE V AndNot(V a, V b) { return _mm_andnot_si128(a, b); }  // ~a & b
MORVIK_SSE2_INLINE V Or(V a, V b) { return _mm_or_si128(a, b); }
MORVIK_SSE2_INLINE V Xor(V a, V b) { return _mm_xor_si128(a, b); }
template <int N> MORVIK_SSE2_INLINE V Shl(V a) { return _mm_slli_epi16(a, N); }
template <int N> MORVIK_SSE2_INLINE V Shr(V a) { return _mm_srli_epi16(a, N); }
MORVIK_SSE2_INLINE V Splat(std::uint16_t w) { return _mm_set1_epi16(static_cast<short>(w)); }
MORVIK_SSE2_INLINE V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
MORVIK_SSE2_INLINE V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
MORVIK_SSE2_INLINE V UnpackLo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
MORVIK_SSE2_INLINE V UnpackHi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
MORVIK_SSE2_INLINE V UnpackLo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
MORVIK_SSE2_INLINE V UnpackHi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }

template <class> V Load(const std::uint8_t* p);
template <> MORVIK_SSE2_INLINE V Load<V>(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
MORVIK_SSE2_INLINE void Store(V v, std::uint8_t* p) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }

// What the mashing lookup selects among.
struct SelectTables {
    V even[32];  // K[2t] in every lane
    V diff[32];  // K[2t] ^ K[2t + 1] in every lane
};

template <class> struct BroadcastKeys {
    V word[64];  // K[j] in every lane
    SelectTables tables;
    MORVIK_SSE2_INLINE V Word(int j) const { return word[j]; }
};

MORVIK_SSE2_INLINE void PrepareKeys(const KeySchedule& ks, BroadcastKeys<V>& keys) {
    for (int j = 0; j < 64; ++j) keys.word[j] = Splat(ks.K[j]);
    for (int t = 0; t < 32; ++t) {
        keys.tables.even[t] = Splat(ks.K[2 * t]);
        keys.tables.diff[t] = Splat(static_cast<std::uint16_t>(ks.K[2 * t] ^ ks.K[2 * t + 1]));
    }
}

// Bit B of each lane copied to all 16 bits of the lane.
template <int B> MORVIK_SSE2_INLINE V BitMask(V x) { return _mm_srai_epi16(Shl<15 - B>(x), 15); }

// K[Base + (x mod 2^(B+1))] in every lane, where bit[b] is BitMask<b>(x):
// the two halves of the range, chosen between by bit B.
template <int B, int Base> MORVIK_SSE2_INLINE V SelectKey(const SelectTables& t, const V* bit) {
    if constexpr (B == 0) {
        return Xor(t.even[Base / 2], And(t.diff[Base / 2], bit[0]));
    } else {
        const V lo = SelectKey<B - 1, Base>(t, bit);
        const V hi = SelectKey<B - 1, Base + (1 << B)>(t, bit);
        return Xor(lo, And(Xor(lo, hi), bit[B]));
    }
}

// K[x & 63] in every lane.
MORVIK_SSE2_INLINE V LookupKey(const SelectTables& t, V x) {
    const V bit[6] = {BitMask<0>(x), BitMask<1>(x), BitMask<2>(x), BitMask<3>(x), BitMask<4>(x), BitMask<5>(x)};
    return SelectKey<5, 0>(t, bit);
}

// The key word is added to (or taken from) the word's own value first, and
// pinned there: left free, the compiler re-associates the sum so that the
// key word comes last, one more step on the chain that every mixing step
// waits for.
MORVIK_SSE2_INLINE V Settled(V v) {
    __asm__("" : "+x"(v));
    return v;
}

// Word i of 8 blocks; a = R[i-1], b = R[i-2], c = R[i-3].
template <int S> MORVIK_SSE2_INLINE V Mix(V r, V k, V a, V b, V c) {
    const V sum = Add(Settled(Add(r, k)), Or(And(a, b), AndNot(a, c)));
    return Or(Shl<S>(sum), Shr<16 - S>(sum));
}

template <int S> MORVIK_SSE2_INLINE V Unmix(V r, V k, V a, V b, V c) {
    const V rotated = Or(Shr<S>(r), Shl<16 - S>(r));
    return Sub(Settled(Sub(rotated, k)), Or(And(a, b), AndNot(a, c)));
}

#define MORVIK_ROUNDS_INLINE MORVIK_SSE2_INLINE
#include "rounds.inl"

// One group a pass: the select tree of the lookup takes most of the sixteen
// registers, and the eight of 32-bit code are already short.
template <bool Encrypting> MORVIK_SSE2 void Run(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
    BroadcastKeys<V> keys;
    PrepareKeys(ks, keys);
    PassGroups<Encrypting, 1>(keys, in, out, blocks);
    Wipe(&keys, sizeof keys);
}

}  // namespace

bool HasSSE2() noexcept {
#if defined(__x86_64__)
    return true;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#endif
}

MORVIK_SSE2 void EncryptSSE2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Run<true>(ks, in, out, blocks);
}

MORVIK_SSE2 void DecryptSSE2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Run<false>(ks, in, out, blocks);
}

}  // namespace morvik::detail::x86
#endif
