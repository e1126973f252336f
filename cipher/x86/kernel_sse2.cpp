// The SSE2 kernel: 8 blocks in the eight 16-bit lanes of four registers (one
// register per block word). SSE2 has no byte shuffle with a variable control,
// so the mashing lookup is a tree of masked selects over all 64 key words: the
// price of reading no memory at a data-chosen address on every x86_64 and on
// the oldest processors the 32-bit library still serves.
#include "kernels.h"

#if MORVIK_X86_KERNELS
#include <emmintrin.h>

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
MORVIK_SSE2_INLINE V Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
MORVIK_SSE2_INLINE void Store(V v, std::uint8_t* p) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }

struct Keys {
    V word[64];   // K[j] in every lane
    V even[32];   // K[2t] in every lane
    V diff[32];   // K[2t] ^ K[2t + 1] in every lane
};

MORVIK_SSE2_INLINE void PrepareKeys(const KeySchedule& ks, Keys& keys) {
    for (int j = 0; j < 64; ++j) keys.word[j] = Splat(ks.K[j]);
    for (int t = 0; t < 32; ++t) {
        keys.even[t] = Splat(ks.K[2 * t]);
        keys.diff[t] = Splat(static_cast<std::uint16_t>(ks.K[2 * t] ^ ks.K[2 * t + 1]));
    }
}

// Bit B of each lane copied to all 16 bits of the lane.
template <int B> MORVIK_SSE2_INLINE V BitMask(V x) { return _mm_srai_epi16(Shl<15 - B>(x), 15); }

// K[Base + (x mod 2^(B+1))] in every lane, where bit[b] is BitMask<b>(x):
// the two halves of the range, chosen between by bit B.
template <int B, int Base> MORVIK_SSE2_INLINE V SelectKey(const Keys& keys, const V* bit) {
    if constexpr (B == 0) {
        return Xor(keys.even[Base / 2], And(keys.diff[Base / 2], bit[0]));
    } else {
        const V lo = SelectKey<B - 1, Base>(keys, bit);
        const V hi = SelectKey<B - 1, Base + (1 << B)>(keys, bit);
        return Xor(lo, And(Xor(lo, hi), bit[B]));
    }
}

// K[x & 63] in every lane.
MORVIK_SSE2_INLINE V LookupKey(const Keys& keys, V x) {
    const V bit[6] = {BitMask<0>(x), BitMask<1>(x), BitMask<2>(x), BitMask<3>(x), BitMask<4>(x), BitMask<5>(x)};
    return SelectKey<5, 0>(keys, bit);
}

// The key word is added to (or taken from) the word's own value first, and
// pinned there: left free, the compiler re-associates the sum so that the
// key word comes last, one more step on the chain that every mixing step
// waits for.
template <class V> MORVIK_SSE2_INLINE V Settled(V v) {
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

struct Group {
    V r0, r1, r2, r3;
};

// Four registers of two blocks each become one register per block word, block
// n in lane n.
MORVIK_SSE2_INLINE Group LoadGroup(const std::uint8_t* in) {
    const V x0 = Load(in), x1 = Load(in + 16), x2 = Load(in + 32), x3 = Load(in + 48);
    const V a = _mm_unpacklo_epi16(x0, x1), b = _mm_unpackhi_epi16(x0, x1);
    const V c = _mm_unpacklo_epi16(x2, x3), d = _mm_unpackhi_epi16(x2, x3);
    const V e = _mm_unpacklo_epi16(a, b), f = _mm_unpackhi_epi16(a, b);
    const V g = _mm_unpacklo_epi16(c, d), h = _mm_unpackhi_epi16(c, d);
    return {_mm_unpacklo_epi64(e, g), _mm_unpackhi_epi64(e, g), _mm_unpacklo_epi64(f, h), _mm_unpackhi_epi64(f, h)};
}

MORVIK_SSE2_INLINE void StoreGroup(const Group& s, std::uint8_t* out) {
    const V lo01 = _mm_unpacklo_epi16(s.r0, s.r1), lo23 = _mm_unpacklo_epi16(s.r2, s.r3);
    const V hi01 = _mm_unpackhi_epi16(s.r0, s.r1), hi23 = _mm_unpackhi_epi16(s.r2, s.r3);
    Store(_mm_unpacklo_epi32(lo01, lo23), out);
    Store(_mm_unpackhi_epi32(lo01, lo23), out + 16);
    Store(_mm_unpacklo_epi32(hi01, hi23), out + 32);
    Store(_mm_unpackhi_epi32(hi01, hi23), out + 48);
}

MORVIK_SSE2_INLINE void MixRound(Group& s, const V* k) {
    s.r0 = Mix<1>(s.r0, k[0], s.r3, s.r2, s.r1);
    s.r1 = Mix<2>(s.r1, k[1], s.r0, s.r3, s.r2);
    s.r2 = Mix<3>(s.r2, k[2], s.r1, s.r0, s.r3);
    s.r3 = Mix<5>(s.r3, k[3], s.r2, s.r1, s.r0);
}

MORVIK_SSE2_INLINE void UnmixRound(Group& s, const V* k) {
    s.r3 = Unmix<5>(s.r3, k[3], s.r2, s.r1, s.r0);
    s.r2 = Unmix<3>(s.r2, k[2], s.r1, s.r0, s.r3);
    s.r1 = Unmix<2>(s.r1, k[1], s.r0, s.r3, s.r2);
    s.r0 = Unmix<1>(s.r0, k[0], s.r3, s.r2, s.r1);
}

MORVIK_SSE2_INLINE void MashRound(Group& s, const Keys& keys) {
    s.r0 = Add(s.r0, LookupKey(keys, s.r3));
    s.r1 = Add(s.r1, LookupKey(keys, s.r0));
    s.r2 = Add(s.r2, LookupKey(keys, s.r1));
    s.r3 = Add(s.r3, LookupKey(keys, s.r2));
}

MORVIK_SSE2_INLINE void UnmashRound(Group& s, const Keys& keys) {
    s.r3 = Sub(s.r3, LookupKey(keys, s.r2));
    s.r2 = Sub(s.r2, LookupKey(keys, s.r1));
    s.r1 = Sub(s.r1, LookupKey(keys, s.r0));
    s.r0 = Sub(s.r0, LookupKey(keys, s.r3));
}

MORVIK_SSE2_INLINE void EncryptPass(const Keys& keys, const std::uint8_t* in, std::uint8_t* out) {
    Group s = LoadGroup(in);
    for (int round = 0; round < 5; ++round) MixRound(s, keys.word + 4 * round);
    MashRound(s, keys);
    for (int round = 5; round < 11; ++round) MixRound(s, keys.word + 4 * round);
    MashRound(s, keys);
    for (int round = 11; round < 16; ++round) MixRound(s, keys.word + 4 * round);
    StoreGroup(s, out);
}

MORVIK_SSE2_INLINE void DecryptPass(const Keys& keys, const std::uint8_t* in, std::uint8_t* out) {
    Group s = LoadGroup(in);
    for (int round = 15; round >= 11; --round) UnmixRound(s, keys.word + 4 * round);
    UnmashRound(s, keys);
    for (int round = 10; round >= 5; --round) UnmixRound(s, keys.word + 4 * round);
    UnmashRound(s, keys);
    for (int round = 4; round >= 0; --round) UnmixRound(s, keys.word + 4 * round);
    StoreGroup(s, out);
}

constexpr std::size_t kWidth = 8;

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
    Keys keys;
    PrepareKeys(ks, keys);
    for (; blocks >= kWidth; blocks -= kWidth, in += 8 * kWidth, out += 8 * kWidth) EncryptPass(keys, in, out);
    WipeKeys(&keys, sizeof keys);
}

MORVIK_SSE2 void DecryptSSE2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Keys keys;
    PrepareKeys(ks, keys);
    for (; blocks >= kWidth; blocks -= kWidth, in += 8 * kWidth, out += 8 * kWidth) DecryptPass(keys, in, out);
    WipeKeys(&keys, sizeof keys);
}

}  // namespace morvik::detail::x86
#endif
