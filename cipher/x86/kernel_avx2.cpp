// The AVX2 kernel: 16 blocks in the sixteen 16-bit lanes of four registers
// (one register per block word), up to four such groups interleaved on x86_64
// so that the long dependency chain of the mixing steps of one group hides
// behind the others. A remainder of 8 blocks runs the same code on 128-bit
// registers.
#include "kernels.h"

#if MORVIK_X86_KERNELS
#include <immintrin.h>

// The templates below take __m256i and __m128i as arguments, which drops
// their may_alias attribute; the kernel never reads other types through them.
#pragma GCC diagnostic ignored "-Wignored-attributes"

#define MORVIK_AVX2        __attribute__((target("avx2")))
#define MORVIK_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace morvik::detail::x86 {
namespace {

// Word operations on 16 lanes and on 8 lanes under one set of names, so that
// one round schedule serves both widths.
MORVIK_AVX2_INLINE __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi16(a, b); }
MORVIK_AVX2_INLINE __m128i Add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
MORVIK_AVX2_INLINE __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi16(a, b); }
MORVIK_AVX2_INLINE __m128i Sub(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
MORVIK_AVX2_INLINE __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
MORVIK_AVX2_INLINE __m128i And(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
MORVIK_AVX2_INLINE __m256i AndNot(__m256i a, __m256i b) { return _mm256_andnot_si256(a, b); }  // ~a & b
MORVIK_AVX2_INLINE __m128i AndNot(__m128i a, __m128i b) { return _mm_andnot_si128(a, b); }
MORVIK_AVX2_INLINE __m256i Or(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
MORVIK_AVX2_INLINE __m128i Or(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
template <int N> MORVIK_AVX2_INLINE __m256i Shl(__m256i a) { return _mm256_slli_epi16(a, N); }
template <int N> MORVIK_AVX2_INLINE __m128i Shl(__m128i a) { return _mm_slli_epi16(a, N); }
template <int N> MORVIK_AVX2_INLINE __m256i Shr(__m256i a) { return _mm256_srli_epi16(a, N); }
template <int N> MORVIK_AVX2_INLINE __m128i Shr(__m128i a) { return _mm_srli_epi16(a, N); }
// Bytes of `table` picked by `control` within each 128-bit half.
MORVIK_AVX2_INLINE __m256i Shuffle(__m256i table, __m256i control) { return _mm256_shuffle_epi8(table, control); }
MORVIK_AVX2_INLINE __m128i Shuffle(__m128i table, __m128i control) { return _mm_shuffle_epi8(table, control); }
// Per byte: b where the top bit of `mask` is set, else a.
MORVIK_AVX2_INLINE __m256i Blend(__m256i a, __m256i b, __m256i mask) { return _mm256_blendv_epi8(a, b, mask); }
MORVIK_AVX2_INLINE __m128i Blend(__m128i a, __m128i b, __m128i mask) { return _mm_blendv_epi8(a, b, mask); }
MORVIK_AVX2_INLINE __m256i UnpackLo16(__m256i a, __m256i b) { return _mm256_unpacklo_epi16(a, b); }
MORVIK_AVX2_INLINE __m128i UnpackLo16(__m128i a, __m128i b) { return _mm_unpacklo_epi16(a, b); }
MORVIK_AVX2_INLINE __m256i UnpackHi16(__m256i a, __m256i b) { return _mm256_unpackhi_epi16(a, b); }
MORVIK_AVX2_INLINE __m128i UnpackHi16(__m128i a, __m128i b) { return _mm_unpackhi_epi16(a, b); }
MORVIK_AVX2_INLINE __m256i UnpackLo32(__m256i a, __m256i b) { return _mm256_unpacklo_epi32(a, b); }
MORVIK_AVX2_INLINE __m128i UnpackLo32(__m128i a, __m128i b) { return _mm_unpacklo_epi32(a, b); }
MORVIK_AVX2_INLINE __m256i UnpackHi32(__m256i a, __m256i b) { return _mm256_unpackhi_epi32(a, b); }
MORVIK_AVX2_INLINE __m128i UnpackHi32(__m128i a, __m128i b) { return _mm_unpackhi_epi32(a, b); }
MORVIK_AVX2_INLINE __m256i UnpackLo64(__m256i a, __m256i b) { return _mm256_unpacklo_epi64(a, b); }
MORVIK_AVX2_INLINE __m128i UnpackLo64(__m128i a, __m128i b) { return _mm_unpacklo_epi64(a, b); }
MORVIK_AVX2_INLINE __m256i UnpackHi64(__m256i a, __m256i b) { return _mm256_unpackhi_epi64(a, b); }
MORVIK_AVX2_INLINE __m128i UnpackHi64(__m128i a, __m128i b) { return _mm_unpackhi_epi64(a, b); }

template <class V> V Splat(std::uint16_t w);
template <> MORVIK_AVX2_INLINE __m256i Splat<__m256i>(std::uint16_t w) { return _mm256_set1_epi16(static_cast<short>(w)); }
template <> MORVIK_AVX2_INLINE __m128i Splat<__m128i>(std::uint16_t w) { return _mm_set1_epi16(static_cast<short>(w)); }

// pshufb control that copies the low byte of each 16-bit lane to both bytes.
template <class V> V DuplicateLowBytes();
template <> MORVIK_AVX2_INLINE __m256i DuplicateLowBytes<__m256i>() {
    return _mm256_setr_epi8(0, 0, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10, 12, 12, 14, 14,
                            0, 0, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10, 12, 12, 14, 14);
}
template <> MORVIK_AVX2_INLINE __m128i DuplicateLowBytes<__m128i>() {
    return _mm_setr_epi8(0, 0, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10, 12, 12, 14, 14);
}

template <class V> V Load(const std::uint8_t* p);
template <> MORVIK_AVX2_INLINE __m256i Load<__m256i>(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
template <> MORVIK_AVX2_INLINE __m128i Load<__m128i>(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

MORVIK_AVX2_INLINE void Store(__m256i v, std::uint8_t* p) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
MORVIK_AVX2_INLINE void Store(__m128i v, std::uint8_t* p) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Sixteen bytes in (each 128-bit half of) a register.
template <class V> V ByteTable(const std::uint8_t* bytes);
template <> MORVIK_AVX2_INLINE __m256i ByteTable<__m256i>(const std::uint8_t* bytes) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}
template <> MORVIK_AVX2_INLINE __m128i ByteTable<__m128i>(const std::uint8_t* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

template <class V> struct BroadcastKeys {
    V word[64];
    V tables[8];
    MORVIK_AVX2_INLINE V Word(int j) const { return word[j]; }
};

template <class V> struct DirectKeys {
    const std::uint16_t* K;
    V tables[8];
    MORVIK_AVX2_INLINE V Word(int j) const { return Splat<V>(K[j]); }
};

template <class V> MORVIK_AVX2_INLINE void PrepareTables(const KeySchedule& ks, V* table) {
    std::uint8_t planes[128];
    for (int i = 0; i < 64; ++i) {
        planes[i]      = static_cast<std::uint8_t>(ks.K[i]);
        planes[64 + i] = static_cast<std::uint8_t>(ks.K[i] >> 8);
    }
    for (int t = 0; t < 8; ++t) table[t] = ByteTable<V>(planes + 16 * t);
    Wipe(planes, sizeof planes);
}

template <class V> MORVIK_AVX2_INLINE void PrepareKeys(const KeySchedule& ks, BroadcastKeys<V>& keys) {
    for (int j = 0; j < 64; ++j) keys.word[j] = Splat<V>(ks.K[j]);
    PrepareTables(ks, keys.tables);
}

template <class V> MORVIK_AVX2_INLINE void PrepareKeys(const KeySchedule& ks, DirectKeys<V>& keys) {
    keys.K = ks.K;
    PrepareTables(ks, keys.tables);
}

// K[x & 63] in every lane, without touching memory at a data-chosen address.
// Both bytes of each lane get x & 63: pshufb reads bits 0..3 (the entry of a
// 16-byte table) and ignores bits 4 and 5 (which table), which shifts lift to
// bit 7 for two levels of blends; the low-byte and high-byte planes are
// looked up alike and joined at the end.
template <class V> MORVIK_AVX2_INLINE V LookupKey(const V* table, V x) {
    const V both = And(Shuffle(x, DuplicateLowBytes<V>()), Splat<V>(0x3F3F));
    const V bit4 = Shl<3>(both), bit5 = Shl<2>(both);
    const V lo = Blend(Blend(Shuffle(table[0], both), Shuffle(table[1], both), bit4),
                       Blend(Shuffle(table[2], both), Shuffle(table[3], both), bit4), bit5);
    const V hi = Blend(Blend(Shuffle(table[4], both), Shuffle(table[5], both), bit4),
                       Blend(Shuffle(table[6], both), Shuffle(table[7], both), bit4), bit5);
    return Blend(lo, hi, Splat<V>(0xFF00));
}

// The key word is added to (or taken from) the word's own value first, and
// pinned there: left free, the compiler re-associates the sum so that the
// key word comes last, one more step on the chain that every mixing step
// waits for.
template <class V> MORVIK_AVX2_INLINE V Settled(V v) {
    __asm__("" : "+x"(v));
    return v;
}

// Word i of blocks in lanes; a = R[i-1], b = R[i-2], c = R[i-3].
template <int S, class V> MORVIK_AVX2_INLINE V Mix(V r, V k, V a, V b, V c) {
    const V sum = Add(Settled(Add(r, k)), Or(And(a, b), AndNot(a, c)));
    return Or(Shl<S>(sum), Shr<16 - S>(sum));
}

template <int S, class V> MORVIK_AVX2_INLINE V Unmix(V r, V k, V a, V b, V c) {
    const V rotated = Or(Shr<S>(r), Shl<16 - S>(r));
    return Sub(Settled(Sub(rotated, k)), Or(And(a, b), AndNot(a, c)));
}

#define MORVIK_ROUNDS_INLINE MORVIK_AVX2_INLINE
#include "rounds.inl"

// Four groups in flight (64 blocks) keep the processor busy while each chain
// of mixing steps waits on itself, though their words no longer all fit in
// the sixteen registers; the eight registers of 32-bit code hold one group.
constexpr int kGroupsInFlight = sizeof(void*) == 8 ? 4 : 1;

template <bool Encrypting> MORVIK_AVX2 void Run(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
    constexpr std::size_t kWide = 16, kNarrow = 8;
    if (blocks >= kWide) {
        BroadcastKeys<__m256i> keys;
        PrepareKeys(ks, keys);
        PassGroups<Encrypting, kGroupsInFlight>(keys, in, out, blocks);
        Wipe(&keys, sizeof keys);
    }
    if (blocks >= kNarrow) {
        DirectKeys<__m128i> keys;
        PrepareKeys(ks, keys);
        Pass<Encrypting, 1>(keys, in, out);
        Wipe(&keys, sizeof keys);
    }
}

}  // namespace

bool HasAVX2() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

MORVIK_AVX2 void EncryptAVX2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Run<true>(ks, in, out, blocks);
}

MORVIK_AVX2 void DecryptAVX2(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Run<false>(ks, in, out, blocks);
}

}  // namespace morvik::detail::x86
#endif
