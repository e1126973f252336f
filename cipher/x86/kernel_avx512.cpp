// The AVX-512 kernel (BW, VL and VBMI2): 32 blocks in the 16-bit lanes of
// four 512-bit registers, up to four groups in flight. Three instructions do
// what costs AVX2 a dozen: vpternlogd is the whole "R[i-1] selects between
// R[i-2] and R[i-3]" term, vpshldw rotates a 16-bit lane, and vpermi2w looks
// K[x & 63] up in two registers holding all 64 key words, ignoring the higher
// index bits by itself. Remainders of 16 and 8 blocks run the same code on
// 256- and 128-bit registers (the lookup still on 512-bit tables).
#include "cipher/x86/kernels.h"

#if MORVIK_X86_KERNELS
#include <immintrin.h>

// The templates below take vector types as arguments, which drops their
// may_alias attribute; the kernel never reads other types through them.
#pragma GCC diagnostic ignored "-Wignored-attributes"
// GCC 12's own unpack intrinsics pass an undefined vector as their unused
// merge source, which its flow analysis reports once they are inlined here.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#define MORVIK_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi2")))
#define MORVIK_AVX512_INLINE __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi2"), always_inline)) inline

namespace morvik::detail::x86 {
namespace {

using W = __m512i;
using Y = __m256i;
using X = __m128i;

MORVIK_AVX512_INLINE W Add(W a, W b) { return _mm512_add_epi16(a, b); }
MORVIK_AVX512_INLINE Y Add(Y a, Y b) { return _mm256_add_epi16(a, b); }
MORVIK_AVX512_INLINE X Add(X a, X b) { return _mm_add_epi16(a, b); }
MORVIK_AVX512_INLINE W Sub(W a, W b) { return _mm512_sub_epi16(a, b); }
MORVIK_AVX512_INLINE Y Sub(Y a, Y b) { return _mm256_sub_epi16(a, b); }
MORVIK_AVX512_INLINE X Sub(X a, X b) { return _mm_sub_epi16(a, b); }

// Bitwise a ? b : c, the mixing term (a & b) | (~a & c) (truth table 0xCA).
MORVIK_AVX512_INLINE W Select(W a, W b, W c) { return _mm512_ternarylogic_epi32(a, b, c, 0xCA); }
MORVIK_AVX512_INLINE Y Select(Y a, Y b, Y c) { return _mm256_ternarylogic_epi32(a, b, c, 0xCA); }
MORVIK_AVX512_INLINE X Select(X a, X b, X c) { return _mm_ternarylogic_epi32(a, b, c, 0xCA); }

template <int S> MORVIK_AVX512_INLINE W RotL(W a) { return _mm512_shldi_epi16(a, a, S); }
template <int S> MORVIK_AVX512_INLINE Y RotL(Y a) { return _mm256_shldi_epi16(a, a, S); }
template <int S> MORVIK_AVX512_INLINE X RotL(X a) { return _mm_shldi_epi16(a, a, S); }
template <int S> MORVIK_AVX512_INLINE W RotR(W a) { return _mm512_shrdi_epi16(a, a, S); }
template <int S> MORVIK_AVX512_INLINE Y RotR(Y a) { return _mm256_shrdi_epi16(a, a, S); }
template <int S> MORVIK_AVX512_INLINE X RotR(X a) { return _mm_shrdi_epi16(a, a, S); }

// The 64 key words: K[0..31] in `lo`, K[32..63] in `hi`.
struct KeyTables {
    W lo, hi;
};

// K[x & 63] in every lane: bits 0..4 pick the word, bit 5 the register, and
// vpermi2w reads no other bits.
MORVIK_AVX512_INLINE W LookupKey(const KeyTables& t, W x) { return _mm512_permutex2var_epi16(t.lo, x, t.hi); }
MORVIK_AVX512_INLINE Y LookupKey(const KeyTables& t, Y x) {
    return _mm512_castsi512_si256(_mm512_permutex2var_epi16(t.lo, _mm512_castsi256_si512(x), t.hi));
}
MORVIK_AVX512_INLINE X LookupKey(const KeyTables& t, X x) {
    return _mm512_castsi512_si128(_mm512_permutex2var_epi16(t.lo, _mm512_castsi128_si512(x), t.hi));
}

template <class V> V Splat(std::uint16_t w);
template <> MORVIK_AVX512_INLINE W Splat<W>(std::uint16_t w) { return _mm512_set1_epi16(static_cast<short>(w)); }
template <> MORVIK_AVX512_INLINE Y Splat<Y>(std::uint16_t w) { return _mm256_set1_epi16(static_cast<short>(w)); }
template <> MORVIK_AVX512_INLINE X Splat<X>(std::uint16_t w) { return _mm_set1_epi16(static_cast<short>(w)); }

template <class V> V Load(const std::uint8_t* p);
template <> MORVIK_AVX512_INLINE W Load<W>(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
template <> MORVIK_AVX512_INLINE Y Load<Y>(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const Y*>(p)); }
template <> MORVIK_AVX512_INLINE X Load<X>(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const X*>(p)); }

MORVIK_AVX512_INLINE void Store(W v, std::uint8_t* p) { _mm512_storeu_si512(p, v); }
MORVIK_AVX512_INLINE void Store(Y v, std::uint8_t* p) { _mm256_storeu_si256(reinterpret_cast<Y*>(p), v); }
MORVIK_AVX512_INLINE void Store(X v, std::uint8_t* p) { _mm_storeu_si128(reinterpret_cast<X*>(p), v); }

MORVIK_AVX512_INLINE W UnpackLo16(W a, W b) { return _mm512_unpacklo_epi16(a, b); }
MORVIK_AVX512_INLINE Y UnpackLo16(Y a, Y b) { return _mm256_unpacklo_epi16(a, b); }
MORVIK_AVX512_INLINE X UnpackLo16(X a, X b) { return _mm_unpacklo_epi16(a, b); }
MORVIK_AVX512_INLINE W UnpackHi16(W a, W b) { return _mm512_unpackhi_epi16(a, b); }
MORVIK_AVX512_INLINE Y UnpackHi16(Y a, Y b) { return _mm256_unpackhi_epi16(a, b); }
MORVIK_AVX512_INLINE X UnpackHi16(X a, X b) { return _mm_unpackhi_epi16(a, b); }
MORVIK_AVX512_INLINE W UnpackLo32(W a, W b) { return _mm512_unpacklo_epi32(a, b); }
MORVIK_AVX512_INLINE Y UnpackLo32(Y a, Y b) { return _mm256_unpacklo_epi32(a, b); }
MORVIK_AVX512_INLINE X UnpackLo32(X a, X b) { return _mm_unpacklo_epi32(a, b); }
MORVIK_AVX512_INLINE W UnpackHi32(W a, W b) { return _mm512_unpackhi_epi32(a, b); }
MORVIK_AVX512_INLINE Y UnpackHi32(Y a, Y b) { return _mm256_unpackhi_epi32(a, b); }
MORVIK_AVX512_INLINE X UnpackHi32(X a, X b) { return _mm_unpackhi_epi32(a, b); }
MORVIK_AVX512_INLINE W UnpackLo64(W a, W b) { return _mm512_unpacklo_epi64(a, b); }
MORVIK_AVX512_INLINE Y UnpackLo64(Y a, Y b) { return _mm256_unpacklo_epi64(a, b); }
MORVIK_AVX512_INLINE X UnpackLo64(X a, X b) { return _mm_unpacklo_epi64(a, b); }
MORVIK_AVX512_INLINE W UnpackHi64(W a, W b) { return _mm512_unpackhi_epi64(a, b); }
MORVIK_AVX512_INLINE Y UnpackHi64(Y a, Y b) { return _mm256_unpackhi_epi64(a, b); }
MORVIK_AVX512_INLINE X UnpackHi64(X a, X b) { return _mm_unpackhi_epi64(a, b); }

// The key for the mixing steps: broadcast once for long runs, or word by word
// as a single short pass goes, so that a short message pays for no setup.
template <class V> struct BroadcastKeys {
    V word[64];
    KeyTables tables;
    MORVIK_AVX512_INLINE V Word(int j) const { return word[j]; }
};

template <class V> struct DirectKeys {
    const std::uint16_t* K;
    KeyTables tables;
    MORVIK_AVX512_INLINE V Word(int j) const { return Splat<V>(K[j]); }
};

MORVIK_AVX512_INLINE KeyTables MakeTables(const KeySchedule& ks) { return {Load<W>(reinterpret_cast<const std::uint8_t*>(ks.K)), Load<W>(reinterpret_cast<const std::uint8_t*>(ks.K + 32))}; }

template <class V> MORVIK_AVX512_INLINE void PrepareKeys(const KeySchedule& ks, BroadcastKeys<V>& keys) {
    for (int j = 0; j < 64; ++j) keys.word[j] = Splat<V>(ks.K[j]);
    keys.tables = MakeTables(ks);
}

template <class V> MORVIK_AVX512_INLINE void PrepareKeys(const KeySchedule& ks, DirectKeys<V>& keys) {
    keys.K      = ks.K;
    keys.tables = MakeTables(ks);
}

template <class V> struct Group {
    V r0, r1, r2, r3;
};

// As in the AVX2 kernel: each 128-bit part is transposed on its own, so the
// blocks take lanes in an order of their own, which StoreGroup undoes.
template <class V> MORVIK_AVX512_INLINE Group<V> LoadGroup(const std::uint8_t* in) {
    const V x0 = Load<V>(in), x1 = Load<V>(in + sizeof(V)), x2 = Load<V>(in + 2 * sizeof(V)),
            x3 = Load<V>(in + 3 * sizeof(V));
    const V a = UnpackLo16(x0, x1), b = UnpackHi16(x0, x1), c = UnpackLo16(x2, x3), d = UnpackHi16(x2, x3);
    const V e = UnpackLo16(a, b), f = UnpackHi16(a, b), g = UnpackLo16(c, d), h = UnpackHi16(c, d);
    return {UnpackLo64(e, g), UnpackHi64(e, g), UnpackLo64(f, h), UnpackHi64(f, h)};
}

template <class V> MORVIK_AVX512_INLINE void StoreGroup(const Group<V>& g, std::uint8_t* out) {
    const V lo01 = UnpackLo16(g.r0, g.r1), lo23 = UnpackLo16(g.r2, g.r3);
    const V hi01 = UnpackHi16(g.r0, g.r1), hi23 = UnpackHi16(g.r2, g.r3);
    Store(UnpackLo32(lo01, lo23), out);
    Store(UnpackHi32(lo01, lo23), out + sizeof(V));
    Store(UnpackLo32(hi01, hi23), out + 2 * sizeof(V));
    Store(UnpackHi32(hi01, hi23), out + 3 * sizeof(V));
}

// Word i of the blocks; a = R[i-1], b = R[i-2], c = R[i-3].
template <int S, class V> MORVIK_AVX512_INLINE V Mix(V r, V k, V a, V b, V c) {
    return RotL<S>(Add(Add(r, k), Select(a, b, c)));
}

template <int S, class V> MORVIK_AVX512_INLINE V Unmix(V r, V k, V a, V b, V c) {
    return Sub(Sub(RotR<S>(r), k), Select(a, b, c));
}

// The loops over groups must unroll, or the groups' words would live in
// memory instead of registers.
#define MORVIK_EACH_GROUP _Pragma("GCC unroll 4")

template <int G, class V, class Keys> MORVIK_AVX512_INLINE void MixRound(Group<V> (&s)[G], const Keys& keys, int j) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Mix<1>(g.r0, keys.Word(j), g.r3, g.r2, g.r1);
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Mix<2>(g.r1, keys.Word(j + 1), g.r0, g.r3, g.r2);
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Mix<3>(g.r2, keys.Word(j + 2), g.r1, g.r0, g.r3);
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Mix<5>(g.r3, keys.Word(j + 3), g.r2, g.r1, g.r0);
}

template <int G, class V, class Keys> MORVIK_AVX512_INLINE void UnmixRound(Group<V> (&s)[G], const Keys& keys, int j) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Unmix<5>(g.r3, keys.Word(j + 3), g.r2, g.r1, g.r0);
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Unmix<3>(g.r2, keys.Word(j + 2), g.r1, g.r0, g.r3);
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Unmix<2>(g.r1, keys.Word(j + 1), g.r0, g.r3, g.r2);
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Unmix<1>(g.r0, keys.Word(j), g.r3, g.r2, g.r1);
}

template <int G, class V> MORVIK_AVX512_INLINE void MashRound(Group<V> (&s)[G], const KeyTables& t) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Add(g.r0, LookupKey(t, g.r3));
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Add(g.r1, LookupKey(t, g.r0));
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Add(g.r2, LookupKey(t, g.r1));
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Add(g.r3, LookupKey(t, g.r2));
}

template <int G, class V> MORVIK_AVX512_INLINE void UnmashRound(Group<V> (&s)[G], const KeyTables& t) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Sub(g.r3, LookupKey(t, g.r2));
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Sub(g.r2, LookupKey(t, g.r1));
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Sub(g.r1, LookupKey(t, g.r0));
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Sub(g.r0, LookupKey(t, g.r3));
}

template <bool Encrypting, int G, class V, template <class> class Keys>
MORVIK_AVX512_INLINE void Pass(const Keys<V>& keys, const std::uint8_t*& in, std::uint8_t*& out) {
    Group<V> s[G];
    MORVIK_EACH_GROUP for (int i = 0; i < G; ++i) s[i] = LoadGroup<V>(in + i * 4 * sizeof(V));
    if constexpr (Encrypting) {
        for (int round = 0; round < 5; ++round) MixRound(s, keys, 4 * round);
        MashRound(s, keys.tables);
        for (int round = 5; round < 11; ++round) MixRound(s, keys, 4 * round);
        MashRound(s, keys.tables);
        for (int round = 11; round < 16; ++round) MixRound(s, keys, 4 * round);
    } else {
        for (int round = 15; round >= 11; --round) UnmixRound(s, keys, 4 * round);
        UnmashRound(s, keys.tables);
        for (int round = 10; round >= 5; --round) UnmixRound(s, keys, 4 * round);
        UnmashRound(s, keys.tables);
        for (int round = 4; round >= 0; --round) UnmixRound(s, keys, 4 * round);
    }
    MORVIK_EACH_GROUP for (int i = 0; i < G; ++i) StoreGroup(s[i], out + i * 4 * sizeof(V));
    in += G * 4 * sizeof(V);
    out += G * 4 * sizeof(V);
}

// With 32 vector registers, four groups of four words stay in registers in
// 64-bit code; 32-bit code has eight registers and keeps to one group.
constexpr int kGroupsInFlight = sizeof(void*) == 8 ? 4 : 1;

template <bool Encrypting> MORVIK_AVX512 void Run(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
    constexpr std::size_t kWide = 32;
    if (blocks >= kWide) {
        BroadcastKeys<W> keys;
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
    if (blocks >= 8) {
        DirectKeys<Y> keys;
        PrepareKeys(ks, keys);
        if (blocks >= 16) {
            Pass<Encrypting, 1>(keys, in, out);
            blocks -= 16;
        }
        if (blocks >= 8) {
            const DirectKeys<X> narrow{keys.K, keys.tables};
            Pass<Encrypting, 1>(narrow, in, out);
        }
        WipeKeys(&keys.tables, sizeof keys.tables);
    }
}

}  // namespace

bool HasAVX512() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi2");
}

MORVIK_AVX512 void EncryptAVX512(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Run<true>(ks, in, out, blocks);
}

MORVIK_AVX512 void DecryptAVX512(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) noexcept {
    Run<false>(ks, in, out, blocks);
}

}  // namespace morvik::detail::x86
#endif
