// The round schedule of the SSE2, AVX2 and AVX-512 kernels, over groups of
// four registers that each hold one word of many blocks. Each kernel includes
// this inside its own anonymous namespace, after its word operations (Add,
// Sub, Mix, Unmix, LookupKey, Load, Store and the unpacks) and with
// MORVIK_ROUNDS_INLINE set to its own target attribute, so that every function
// here compiles for that instruction set alone. A key holder gives Word(j)
// and the mashing lookup's `tables`.

template <class V> struct Group {
    V r0, r1, r2, r3;
};

// Four registers of two blocks per 128 bits become one register per block
// word. Every 128-bit part is transposed on its own, so the blocks sit in the
// lanes in an order of their own, which StoreGroup undoes.
template <class V> MORVIK_ROUNDS_INLINE Group<V> LoadGroup(const std::uint8_t* in) {
    const V x0 = Load<V>(in), x1 = Load<V>(in + sizeof(V)), x2 = Load<V>(in + 2 * sizeof(V)),
            x3 = Load<V>(in + 3 * sizeof(V));
    const V a = UnpackLo16(x0, x1), b = UnpackHi16(x0, x1), c = UnpackLo16(x2, x3), d = UnpackHi16(x2, x3);
    const V e = UnpackLo16(a, b), f = UnpackHi16(a, b), g = UnpackLo16(c, d), h = UnpackHi16(c, d);
    return {UnpackLo64(e, g), UnpackHi64(e, g), UnpackLo64(f, h), UnpackHi64(f, h)};
}

template <class V> MORVIK_ROUNDS_INLINE void StoreGroup(const Group<V>& g, std::uint8_t* out) {
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

template <int G, class V, class Keys> MORVIK_ROUNDS_INLINE void MixRound(Group<V> (&s)[G], const Keys& keys, int j) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Mix<1>(g.r0, keys.Word(j), g.r3, g.r2, g.r1);
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Mix<2>(g.r1, keys.Word(j + 1), g.r0, g.r3, g.r2);
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Mix<3>(g.r2, keys.Word(j + 2), g.r1, g.r0, g.r3);
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Mix<5>(g.r3, keys.Word(j + 3), g.r2, g.r1, g.r0);
}

template <int G, class V, class Keys> MORVIK_ROUNDS_INLINE void UnmixRound(Group<V> (&s)[G], const Keys& keys, int j) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Unmix<5>(g.r3, keys.Word(j + 3), g.r2, g.r1, g.r0);
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Unmix<3>(g.r2, keys.Word(j + 2), g.r1, g.r0, g.r3);
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Unmix<2>(g.r1, keys.Word(j + 1), g.r0, g.r3, g.r2);
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Unmix<1>(g.r0, keys.Word(j), g.r3, g.r2, g.r1);
}

template <int G, class V, class Tables> MORVIK_ROUNDS_INLINE void MashRound(Group<V> (&s)[G], const Tables& t) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Add(g.r0, LookupKey(t, g.r3));
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Add(g.r1, LookupKey(t, g.r0));
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Add(g.r2, LookupKey(t, g.r1));
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Add(g.r3, LookupKey(t, g.r2));
}

template <int G, class V, class Tables> MORVIK_ROUNDS_INLINE void UnmashRound(Group<V> (&s)[G], const Tables& t) {
    MORVIK_EACH_GROUP for (auto& g : s) g.r3 = Sub(g.r3, LookupKey(t, g.r2));
    MORVIK_EACH_GROUP for (auto& g : s) g.r2 = Sub(g.r2, LookupKey(t, g.r1));
    MORVIK_EACH_GROUP for (auto& g : s) g.r1 = Sub(g.r1, LookupKey(t, g.r0));
    MORVIK_EACH_GROUP for (auto& g : s) g.r0 = Sub(g.r0, LookupKey(t, g.r3));
}

// One pass over G groups of blocks, moving `in` and `out` past them.
template <bool Encrypting, int G, class V, template <class> class Keys>
MORVIK_ROUNDS_INLINE void Pass(const Keys<V>& keys, const std::uint8_t*& in, std::uint8_t*& out) {
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

// Every whole group of the remaining blocks: InFlight groups a pass while
// there are enough, then four, two and one as they fit.
template <bool Encrypting, int InFlight, class V, template <class> class Keys>
MORVIK_ROUNDS_INLINE void PassGroups(const Keys<V>& keys, const std::uint8_t*& in, std::uint8_t*& out,
                                     std::size_t& blocks) {
    constexpr std::size_t kGroup = sizeof(V) / 2;  // blocks in one group
    for (; blocks >= InFlight * kGroup; blocks -= InFlight * kGroup) Pass<Encrypting, InFlight>(keys, in, out);
    if constexpr (InFlight > 4) {
        if (blocks >= 4 * kGroup) {
            Pass<Encrypting, 4>(keys, in, out);
            blocks -= 4 * kGroup;
        }
    }
    if constexpr (InFlight > 2) {
        if (blocks >= 2 * kGroup) {
            Pass<Encrypting, 2>(keys, in, out);
            blocks -= 2 * kGroup;
        }
    }
    if constexpr (InFlight > 1) {
        if (blocks >= kGroup) {
            Pass<Encrypting, 1>(keys, in, out);
            blocks -= kGroup;
        }
    }
}
