// The AVX-512 kernel (BW, VL and VBMI2): 32 blocks in the 16-bit lanes of
// four 512-bit registers, up to five groups in flight. Three instructions do
// what costs AVX2 a dozen: vpternlogd is the whole "R[i-1] selects between
// R[i-2] and R[i-3]" term, vpshldw rotates a 16-bit lane, and vpermi2w looks
// K[x & 63] up in two registers holding all 64 key words, ignoring the higher
// index bits by itself. Remainders of 16 and 8 blocks run the same code on
// 256- and 128-bit registers (the lookup still on 512-bit tables).
#include "kernels.h"

#if MORVIK_X86_KERNELS
#include <immintrin.h>

// The templates below take vector types as arguments, which drops their
// may_alias attribute; the kernel never reads other types through them.
#pragma GCC diagnostic ignored "-Wignored-attributes"
// GCC 12's own unpack intrinsics pass an undefined vector as their unused
// merge source, which its flow analysis reports once they are inlined here.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

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
// The same selection with c in the instruction's destination register
// (truth table 0xB8 for c, a, b). Unmixing computes c last, and a chain that
// runs through the destination operand is the faster one: on the machine
// these kernels were tuned on, decrypting 8 blocks took a fifth less time.
MORVIK_AVX512_INLINE W SelectOnLast(W a, W b, W c) { return _mm512_ternarylogic_epi32(c, a, b, 0xB8); }
MORVIK_AVX512_INLINE Y SelectOnLast(Y a, Y b, Y c) { return _mm256_ternarylogic_epi32(c, a, b, 0xB8); }
MORVIK_AVX512_INLINE X SelectOnLast(X a, X b, X c) { return _mm_ternarylogic_epi32(c, a, b, 0xB8); }

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

// The key word is added to (or taken from) the word's own value first, and
// pinned there: left free, the compiler re-associates the sum so that the
// key word comes last, one more step on the chain that every mixing step
// waits for.
template <class V> MORVIK_AVX512_INLINE V Settled(V v) {
    __asm__("" : "+v"(v));
    return v;
}

// Word i of the blocks; a = R[i-1], b = R[i-2], c = R[i-3].
template <int S, class V> MORVIK_AVX512_INLINE V Mix(V r, V k, V a, V b, V c) {
    return RotL<S>(Add(Settled(Add(r, k)), Select(a, b, c)));
}

template <int S, class V> MORVIK_AVX512_INLINE V Unmix(V r, V k, V a, V b, V c) {
    return Sub(Settled(Sub(RotR<S>(r), k)), SelectOnLast(a, b, c));
}

#define MORVIK_ROUNDS_INLINE MORVIK_AVX512_INLINE
#include "rounds.inl"

// With 32 vector registers, groups of four words stay in registers in 64-bit
// code; 32-bit code has eight registers and keeps to one group. Encryption
// takes one group more than decryption: its chain per word is one step
// longer (select, add and rotate, each waiting on the word just mixed, where
// decryption rotates and takes the key off the chain), and a fifth group in
// flight hides it. On a Zen 5 machine with full-width 512-bit units, 16 MiB
// took 1.7 to 1.8 times decryption's time with four groups and 1.2 times
// with five; decryption itself is no faster with five, and six groups no
// longer fit the registers (encryption then spills and runs slower than
// with four).
constexpr int kDecryptGroups = sizeof(void*) == 8 ? 4 : 1;
constexpr int kEncryptGroups = sizeof(void*) == 8 ? 5 : 1;

template <bool Encrypting> MORVIK_AVX512 void Run(const KeySchedule& ks, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
    constexpr std::size_t kWide = 32;
    if (blocks >= kWide) {
        BroadcastKeys<W> keys;
        PrepareKeys(ks, keys);
        PassGroups<Encrypting, Encrypting ? kEncryptGroups : kDecryptGroups>(keys, in, out, blocks);
        Wipe(&keys, sizeof keys);
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
        Wipe(&keys.tables, sizeof keys.tables);
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
