// The AVX2 kernel: 16 blocks in the sixteen 16-bit lanes of four registers
// (one register per block word), up to four such groups interleaved on x86_64
// so that the long dependency chain of the mixing steps of one group hides
// behind the others. A remainder of 8 blocks runs the same code on 128-bit
// registers.
#include "cipher/x86/kernels.h"

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
MORVIK_AVX2_INLINE __m256i MulLo(__m256i a, __m256i b) { return _mm256_mullo_epi16(a, b); }
MORVIK_AVX2_INLINE __m128i MulLo(__m128i a, __m128i b) { return _mm_mullo_epi16(a, b); }
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
    V table[8];
    MORVIK_AVX2_INLINE V Word(int j) const { return word[j]; }
};

template <class V> struct DirectKeys {
    const std::uint16_t* K;
    V table[8];
    MORVIK_AVX2_INLINE V Word(int j) const { return Splat<V>(K[j]); }
};

template <class V> MORVIK_AVX2_INLINE void PrepareTables(const KeySchedule& ks, V* table) {
    std::uint8_t planes[128];
    for (int i = 0; i < 64; ++i) {
        planes[i]      = static_cast<std::uint8_t>(ks.K[i]);
        planes[64 + i] = static_cast<std::uint8_t>(ks.K[i] >> 8);
    }
    for (int t = 0; t < 8; ++t) table[t] = ByteTable<V>(planes + 16 * t);
    WipeKeys(planes, sizeof planes);
}

template <class V> MORVIK_AVX2_INLINE void PrepareKeys(const KeySchedule& ks, BroadcastKeys<V>& keys) {
    for (int j = 0; j < 64; ++j) keys.word[j] = Splat<V>(ks.K[j]);
    PrepareTables(ks, keys.table);
}

template <class V> MORVIK_AVX2_INLINE void PrepareKeys(const KeySchedule& ks, DirectKeys<V>& keys) {
    keys.K = ks.K;
    PrepareTables(ks, keys.table);
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

// Word i of blocks in lanes; a = R[i-1], b = R[i-2], c = R[i-3].
template <int S, class V> MORVIK_AVX2_INLINE V Mix(V r, V k, V a, V b, V c) {
    const V sum = Add(Add(r, k), Or(And(a, b), AndNot(a, c)));
    return Or(Shl<S>(sum), Shr<16 - S>(sum));
}

template <int S, class V> MORVIK_AVX2_INLINE V Unmix(V r, V k, V a, V b, V c) {
    const V rotated = Or(Shr<S>(r), Shl<16 - S>(r));
    return Sub(Sub(rotated, k), Or(And(a, b), AndNot(a, c)));
}

template <class V> struct Group {
    V r0, r1, r2, r3;
};

// Four registers of two blocks per 128 bits become one register per block
// word. Every 128-bit half is transposed on its own, so the blocks sit in the
// lanes in an order of their own, which StoreGroup undoes.
template <class V> MORVIK_AVX2_INLINE Group<V> LoadGroup(const std::uint8_t* in) {
    const V x0 = Load<V>(in), x1 = Load<V>(in + sizeof(V)), x2 = Load<V>(in + 2 * sizeof(V)),
            x3 = Load<V>(in + 3 * sizeof(V));
    const V a = UnpackLo16(x0, x1), b = UnpackHi16(x0, x1), c = UnpackLo16(x2, x3), d = UnpackHi16(x2, x3);
    const V e = UnpackLo16(a, b), f = UnpackHi16(a, b), g = UnpackLo16(c, d), h = UnpackHi16(c, d);
    return {UnpackLo64(e, g), UnpackHi64(e, g), UnpackLo64(f, h), UnpackHi64(f, h)};
}

template <class V> MORVIK_AVX2_INLINE void StoreGroup(const Group<V>& g, std::uint8_t* out) {
    const V lo01 = UnpackLo16(g.r0, g.r1), lo23 = UnpackLo16(g.r2, g.r3);
    const V hi01 = UnpackHi16(g.r0, g.r1), hi23 = UnpackHi16(g.r2, g.r3);
    Store(UnpackLo32(lo01, lo23), out);
    Store(UnpackHi32(lo01, lo23), out + sizeof(V));
    Store(UnpackLo32(hi01, hi23), out + 2 * sizeof(V));
    Store(UnpackHi32(hi01, hi23), out + 3 * sizeof(V));
}

// The steps below go word by word across all G groups, so that G independent
// chains are in flight. The loops over groups must unroll, or the groups'
// words would live in memory instead of registers.
#define MORVIK_EACH_GROUP _Pragma("GCC unroll 4")
template <int G, class V, class Keys> MORVIK_AVX2_INLINE void MixRound(Group<V> (&s)[G], const Keys& keys, int j) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Mix<1>(g.r0, keys.Word(j), g.r3, g.r2, g.r1);
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Mix<2>(g.r1, keys.Word(j + 1), g.r0, g.r3, g.r2);
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Mix<3>(g.r2, keys.Word(j + 2), g.r1, g.r0, g.r3);
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Mix<5>(g.r3, keys.Word(j + 3), g.r2, g.r1, g.r0);
}

template <int G, class V, class Keys> MORVIK_AVX2_INLINE void UnmixRound(Group<V> (&s)[G], const Keys& keys, int j) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Unmix<5>(g.r3, keys.Word(j + 3), g.r2, g.r1, g.r0);
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Unmix<3>(g.r2, keys.Word(j + 2), g.r1, g.r0, g.r3);
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Unmix<2>(g.r1, keys.Word(j + 1), g.r0, g.r3, g.r2);
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Unmix<1>(g.r0, keys.Word(j), g.r3, g.r2, g.r1);
}

template <int G, class V> MORVIK_AVX2_INLINE void MashRound(Group<V> (&s)[G], const V* table) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Add(g.r0, LookupKey(table, g.r3));
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Add(g.r1, LookupKey(table, g.r0));
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Add(g.r2, LookupKey(table, g.r1));
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Add(g.r3, LookupKey(table, g.r2));
}

template <int G, class V> MORVIK_AVX2_INLINE void UnmashRound(Group<V> (&s)[G], const V* table) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Sub(g.r3, LookupKey(table, g.r2));
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Sub(g.r2, LookupKey(table, g.r1));
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Sub(g.r1, LookupKey(table, g.r0));
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Sub(g.r0, LookupKey(table, g.r3));
}

template <int G, class V, class Keys> MORVIK_AVX2_INLINE void EncryptPass(const Keys& keys, const std::uint8_t* in, std::uint8_t* out) {
    Group<V> s[G];
    MORVIK_EACH_GROUP for (int i = 0; i < G; ++i) s[i] = LoadGroup<V>(in + i * 4 * sizeof(V));
    for (int round = 0; round < 5; ++round) MixRound(s, keys, 4 * round);
    MashRound(s, keys.table);
    for (int round = 5; round < 11; ++round) MixRound(s, keys, 4 * round);
    MashRound(s, keys.table);
    for (int round = 11; round < 16; ++round) MixRound(s, keys, 4 * round);
    MORVIK_EACH_GROUP for (int i = 0; i < G; ++i) StoreGroup(s[i], out + i * 4 * sizeof(V));
}

template <int G, class V, class Keys> MORVIK_AVX2_INLINE void DecryptPass(const Keys& keys, const std::uint8_t* in, std::uint8_t* out) {
    Group<V> s[G];
    MORVIK_EACH_GROUP for (int i = 0; i < G; ++i) s[i] = LoadGroup<V>(in + i * 4 * sizeof(V));
    for (int round = 15; round >= 11; --round) UnmixRound(s, keys, 4 * round);
    UnmashRound(s, keys.table);
    for (int round = 10; round >= 5; --round) UnmixRound(s, keys, 4 * round);
    UnmashRound(s, keys.table);
    for (int round = 4; round >= 0; --round) UnmixRound(s, keys, 4 * round);
    MORVIK_EACH_GROUP for (int i = 0; i < G; ++i) StoreGroup(s[i], out + i * 4 * sizeof(V));
}

template <bool Encrypting, int G, class V, template <class> class Keys>
MORVIK_AVX2_INLINE void Pass(const Keys<V>& keys, const std::uint8_t*& in, std::uint8_t*& out) {
    if constexpr (Encrypting) EncryptPass<G, V>(keys, in, out);
    else DecryptPass<G, V>(keys, in, out);
    in += G * 4 * sizeof(V);
    out += G * 4 * sizeof(V);
}

// Four groups in flight (64 blocks) keep the processor busy while each chain
// of mixing steps waits on itself, though their words no longer all fit in
// the sixteen registers; the eight registers of 32-bit code hold one group.
constexpr int kGroupsInFlight = sizeof(void*) == 8 ? 4 : 1;

template <bool Encrypting> MORVIK_AVX2 void Run(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
    constexpr std::size_t kWide = 16, kNarrow = 8;
    if (blocks >= kWide) {
        BroadcastKeys<__m256i> keys;
        PrepareKeys(ks, keys);
        for (; blocks >= kGroupsInFlight * kWide; blocks -= kGroupsInFlight * kWide)
            Pass<Encrypting, kGroupsInFlight>(keys, in, out);
        if constexpr (kGroupsInFlight > 2) {
            if (blocks >= 2 * kWide) {
                Pass<Encrypting, 2>(keys, in, out);
                blocks -= 2 * kWide;
            }
        }
        if constexpr (kGroupsInFlight > 1) {
            if (blocks >= kWide) {
                Pass<Encrypting, 1>(keys, in, out);
                blocks -= kWide;
            }
        }
        WipeKeys(&keys, sizeof keys);
    }
    if (blocks >= kNarrow) {
        DirectKeys<__m128i> keys;
        PrepareKeys(ks, keys);
        Pass<Encrypting, 1>(keys, in, out);
        WipeKeys(&keys, sizeof keys);
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
