// What a caller of the RC2 object sees: arguments written back, the last
// result after successes and failures, keys and effective lengths that are
// ignored, and when an effective length takes effect.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <climits>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include <morvik/hex.h>
#include "cipher/pitable.h"
#include <morvik/rc2.h>
#include <morvik/detail/wipe.h>
#include "tests/support/vec.h"

namespace morvik {
namespace {

using test::Hex;

int ErrorOf(auto&& call) {
    try {
        call();
    } catch (const Error& e) {
        return e.code();
    }
    return 0;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

TEST(RC2Object, StartsEmptyWithAZeroKey) {
    RC2 rc2;
    EXPECT_EQ(rc2.Key(), "");
    EXPECT_EQ(rc2.KeyHex(), "");
    EXPECT_EQ(rc2.EffectiveKeyLength(), 0);
    EXPECT_EQ(rc2.Result(), "");
    EXPECT_EQ(rc2.ResultHex(), "");
    EXPECT_EQ(rc2.ResultAsc(), "");
    for (auto b : rc2.ExpandedKey()) ASSERT_EQ(b, 0);

    // The all-zero expanded key encrypts, and keeps a zero block zero.
    std::string zeros(8, '\0');
    EXPECT_EQ(rc2.Encrypt(zeros), std::string(8, '\0'));
    std::string abc = "abc";
    const std::string cipher = rc2.Encrypt(abc);
    EXPECT_EQ(rc2.Decrypt(cipher), "abc");
}

TEST(RC2Object, EncryptFillsTheArgumentToWholeBlocks) {
    struct Case { std::size_t in, out; };
    for (const Case c : {Case{0, 0}, {1, 8}, {3, 8}, {7, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 24}}) {
        SCOPED_TRACE(c.in);
        RC2 rc2;
        rc2.Key("key");
        const std::string original(c.in, 'x');
        std::string text = original;
        const std::string cipher = rc2.Encrypt(text);
        EXPECT_EQ(cipher.size(), c.out);
        EXPECT_EQ(text, original + std::string(c.out - c.in, '\0'));
        EXPECT_EQ(rc2.Result(), cipher);

        std::string viaAsc = original;
        EXPECT_EQ(rc2.EncryptAsc(viaAsc), rc2.ResultAsc());
        EXPECT_EQ(viaAsc, text);
        EXPECT_EQ(rc2.Result(), cipher);
    }
}

TEST(RC2Object, EqualBlocksGiveEqualCiphertext) {
    RC2 rc2;
    rc2.Key("0123456789abcdef");
    std::string text = "samesamesamesame";
    const std::string c = rc2.Encrypt(text);
    EXPECT_EQ(c.substr(0, 8), c.substr(8, 8));
}

TEST(RC2Object, DecryptStripsEveryTrailingZeroByte) {
    RC2 rc2;
    rc2.Key("k");
    struct Case { std::string plain, expected; };
    const Case cases[] = {
        {"abc", "abc"},
        {std::string("ab\0\0", 4), "ab"},
        {std::string(8, '\0'), ""},
        {std::string("\0\0a\0\0\0\0\0\0\0", 10), std::string("\0\0a", 3)},
    };
    for (const auto& c : cases) {
        std::string text = c.plain;
        const std::string cipher = rc2.Encrypt(text);
        EXPECT_EQ(rc2.Decrypt(cipher), c.expected);
        EXPECT_EQ(rc2.Result(), c.expected);
    }
}

TEST(RC2Object, FailuresAndBlankInputLeaveTheLastResult) {
    RC2 rc2;
    rc2.Key("secret");
    std::string text = "keep me";
    const std::string cipher = rc2.Encrypt(text);

    struct Case { const char* what; std::function<std::string()> call; int error; };
    const Case cases[] = {
        {"Decrypt of 12 bytes", [&] { return rc2.Decrypt("abcdefghijkl"); }, 5},
        {"DecryptHex of 6 bytes", [&] { return rc2.DecryptHex("00112233445566778899AABB"); }, 5},
        {"DecryptAsc with tail J", [&] { return rc2.DecryptAsc("md9J"); }, 6},
        {"DecryptAsc of a group above 255", [&] { return rc2.DecryptAsc("ZZZZ0"); }, 5},
        {"DecryptAsc of 6 bytes", [&] { return rc2.DecryptAsc("md9Jmd9J0"); }, 5},
        {"Decrypt of empty", [&] { return rc2.Decrypt(""); }, 0},
        {"Decrypt of blanks", [&] { return rc2.Decrypt("   "); }, 0},
        {"Decrypt of 8 blanks", [&] { return rc2.Decrypt("        "); }, 0},
        {"DecryptHex of empty", [&] { return rc2.DecryptHex(""); }, 0},
        {"DecryptAsc of a tail mark alone", [&] { return rc2.DecryptAsc("Z"); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string got = "unset";
        EXPECT_EQ(ErrorOf([&] { got = c.call(); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(got, "");
        }
        EXPECT_EQ(rc2.Result(), cipher);
    }
    for (std::size_t n = 1; n < 8; ++n) {
        EXPECT_EQ(ErrorOf([&] { rc2.Decrypt(std::string(n, 'x')); }), 5) << n << " bytes";
        EXPECT_EQ(rc2.Result(), cipher);
    }
    // The object stays usable.
    EXPECT_EQ(rc2.Decrypt(cipher), "keep me");
}

TEST(RC2Object, KeysOfBadLengthAreIgnored) {
    RC2 rc2;
    rc2.Key("first");
    const auto expanded = rc2.ExpandedKey();
    for (const std::string& bad : {std::string(), std::string(129, 'k')}) {
        rc2.Key(bad);
        EXPECT_EQ(rc2.Key(), "first");
        EXPECT_EQ(rc2.ExpandedKey(), expanded);
    }
    // So is a hex text that reads to such a key: key text and expanded key both stay.
    for (const std::string& bad : {std::string(), std::string(258, 'a'), std::string(1000, 'F')}) {
        rc2.KeyHex(bad);
        EXPECT_EQ(rc2.Key(), "first");
        EXPECT_EQ(rc2.ExpandedKey(), expanded);
    }
    rc2.Key(std::string(128, 'k'));
    EXPECT_EQ(rc2.Key(), std::string(128, 'k'));
}

TEST(RC2Object, KeyHexReadsLenientlyAndWritesUppercase) {
    RC2 rc2;
    rc2.KeyHex("0a0b0c0d0e0f1011");
    EXPECT_EQ(rc2.Key(), Bytes({10, 11, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(rc2.KeyHex(), "0A0B0C0D0E0F1011");

    RC2 direct;
    direct.Key(rc2.Key());
    EXPECT_EQ(direct.ExpandedKey(), rc2.ExpandedKey());

    rc2.KeyHex("zz1");  // two groups: "zz" is 0, "1" is 1
    EXPECT_EQ(rc2.Key(), Bytes({0, 1}));
}

TEST(RC2Object, KeyMaySetItself) {
    RC2 rc2;
    rc2.Key("self");
    const auto expanded = rc2.ExpandedKey();
    rc2.Key(rc2.Key());
    EXPECT_EQ(rc2.Key(), "self");
    EXPECT_EQ(rc2.ExpandedKey(), expanded);
}

TEST(RC2Object, EffectiveLengthTakesEffectAtTheNextKey) {
    RC2 rc2;
    for (int bad : {-1, 1025, INT32_MIN, INT32_MAX}) {
        rc2.EffectiveKeyLength(40);
        rc2.EffectiveKeyLength(bad);
        EXPECT_EQ(rc2.EffectiveKeyLength(), 40);
    }
    rc2.EffectiveKeyLength(1024);
    EXPECT_EQ(rc2.EffectiveKeyLength(), 1024);
    rc2.EffectiveKeyLength(0);

    rc2.Key("eightkey");
    std::string text = "abcdefgh";
    const std::string with64 = rc2.Encrypt(text);
    rc2.EffectiveKeyLength(63);
    EXPECT_EQ(rc2.Encrypt(text), with64);  // not yet
    rc2.Key("eightkey");
    EXPECT_NE(rc2.Encrypt(text), with64);

    RC2 fresh;
    fresh.EffectiveKeyLength(63);
    fresh.Key("eightkey");
    EXPECT_EQ(fresh.Encrypt(text), rc2.Result());
}

TEST(RC2Object, SecondKeyLeavesNothingOfTheFirst) {
    RC2 reused, fresh;
    reused.Key(std::string(128, '\x55'));
    reused.Key("x");
    fresh.Key("x");
    EXPECT_EQ(reused.ExpandedKey(), fresh.ExpandedKey());
}

// Records what the core wipes, through its test hook. Each span must read as
// zeros at the moment it is reported, while it is still live memory.
std::uintptr_t Address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

class Wipes {
public:
    Wipes() {
        spans_.clear();
        detail::wipe_observer = [](const void* p, std::size_t n) noexcept {
            const auto* b = static_cast<const unsigned char*>(p);
            bool zero = true;
            for (std::size_t i = 0; i < n; ++i) zero = zero && b[i] == 0;
            spans_.push_back({reinterpret_cast<std::uintptr_t>(p), n, zero});
        };
    }
    ~Wipes() { detail::wipe_observer = nullptr; }

    // Whether [p, p + n) lay inside one span that was wiped to zeros. Addresses
    // are taken as numbers before the memory goes, never used as pointers after.
    bool Covered(std::uintptr_t p, std::size_t n) const {
        return std::any_of(spans_.begin(), spans_.end(),
                           [&](const Span& s) { return s.zero && p >= s.p && p + n <= s.p + s.n; });
    }

private:
    struct Span {
        std::uintptr_t p;
        std::size_t n;
        bool zero;
    };
    static inline std::vector<Span> spans_;
};

TEST(RC2Object, KeyMaterialIsWipedWhenReplacedOrReleased) {
    auto rc2 = std::make_unique<RC2>();
    rc2->Key(std::string(40, 'a'));  // longer than any in-object buffer
    const auto first = Address(rc2->Key().data());
    {
        Wipes wipes;
        rc2->Key(std::string(100, 'b'));  // needs a larger buffer: the old one goes
        EXPECT_TRUE(wipes.Covered(first, 40));
    }
    const auto second = Address(rc2->Key().data());
    {
        Wipes wipes;
        rc2->Key(std::string(10, 'c'));  // fits: what is left of the longer key goes
        EXPECT_EQ(Address(rc2->Key().data()), second);
        EXPECT_TRUE(wipes.Covered(second + 10, 90));
    }
    rc2->Key(std::string(40, 'd'));
    const auto key = Address(rc2->Key().data());
    const auto expanded = Address(rc2->ExpandedKey().data());
    Wipes wipes;
    rc2.reset();
    EXPECT_TRUE(wipes.Covered(key, 40));
    EXPECT_TRUE(wipes.Covered(expanded, 128));
}

TEST(RC2Object, ShortEffectiveLengthsReduceToOneByte) {
    // With 1..8 effective bits only L(127) survives the reduction, and the
    // backward pass turns every other byte into PITABLE entry 0.
    for (int bits = 1; bits <= 8; ++bits) {
        RC2 rc2;
        rc2.EffectiveKeyLength(bits);
        rc2.Key("any key at all");
        const auto& L = rc2.ExpandedKey();
        for (int i = 0; i < 127; ++i) ASSERT_EQ(L[i], detail::kPiTable[0]) << "bits " << bits << ", L(" << i << ")";
    }
}

TEST(RC2Object, HexAndArmouredMembersWrapTheByteMembers) {
    RC2 rc2;
    rc2.KeyHex("88bca90e90875a7f0f79c384627bafb2");
    std::string bytes = Bytes({0x12, 0x34, 0x56});
    const std::string cipher = RC2().Encrypt(bytes), direct = rc2.Encrypt(bytes);

    EXPECT_EQ(rc2.EncryptHex("123456"), direct);  // bytes, not hex
    std::string upper = Hex(direct);
    for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(rc2.ResultHex(), upper);
    EXPECT_EQ(rc2.DecryptHex(rc2.ResultHex()), Bytes({0x12, 0x34, 0x56}));
    EXPECT_EQ(rc2.ResultHex(), "123456");

    std::string text = Bytes({0x12, 0x34, 0x56});
    const std::string asc = rc2.EncryptAsc(text);
    EXPECT_EQ(rc2.DecryptAsc(asc), Bytes({0x12, 0x34, 0x56}));
    EXPECT_EQ(rc2.ResultAsc(), "49Wu0");  // 0x123456 = 4*66^3 + 9*66^2 + 58*66 + 30
    EXPECT_NE(cipher, direct);
}

TEST(Errors, CarryNumberAndStandardText) {
    EXPECT_STREQ(Error(ErrorNumber::InvalidArgument).what(), "Invalid procedure call or argument");
    EXPECT_STREQ(Error(ErrorNumber::Overflow).what(), "Overflow");
    EXPECT_STREQ(Error(ErrorNumber::SubscriptOutOfRange).what(), "Subscript out of range");
    EXPECT_EQ(Error(ErrorNumber::SubscriptOutOfRange).code(), 9);
}


// A message of hundreds of MiB goes through every member as a short one does.
// Run once, on its own (CTest's core.large), not under the sanitizers.
TEST(Large, HundredsOfMiB) {
    constexpr std::size_t kSize = std::size_t{256} << 20;
    std::string plain(kSize, '\0');
    std::uint64_t x = 0x9E3779B97F4A7C15u;
    for (std::size_t i = 0; i < kSize; i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::memcpy(plain.data() + i, &x, 8);
    }
    plain.back() = 'z';
    RC2 rc2;
    rc2.Key("large");
    std::string expected(kSize, '\0');
    rc2.EncryptBlocks(reinterpret_cast<const std::uint8_t*>(plain.data()),
                      reinterpret_cast<std::uint8_t*>(expected.data()), kSize / 8);
    std::string text = plain;
    std::string cipher = rc2.Encrypt(text);
    ASSERT_TRUE(cipher == expected);
    ASSERT_TRUE(rc2.Decrypt(cipher) == plain);
    const std::string asc = rc2.EncryptAsc(text);
    EXPECT_EQ(asc.size(), 4 * ((kSize + 2) / 3) + 1);
    ASSERT_TRUE(rc2.DecryptAsc(asc) == plain);
    ASSERT_TRUE(rc2.DecryptHex(hex::Write(cipher)) == plain);
}

}  // namespace
}  // namespace morvik
