// The message members that write straight into the last result or work in
// place on their own buffer must behave as the plain composition of Encrypt,
// Decrypt and the codecs, failures included.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include "tests/support/random.h"

namespace morvik {
namespace {

// The ciphertext of whole blocks, one EncryptBlocks call per block: the
// reference that the piece-at-a-time paths must match.
std::string BlockByBlock(const RC2& rc2, std::string_view plain) {
    std::string out(plain.size(), '\0');
    for (std::size_t at = 0; at < plain.size(); at += 8)
        rc2.EncryptBlocks(reinterpret_cast<const std::uint8_t*>(plain.data() + at),
                          reinterpret_cast<std::uint8_t*>(out.data() + at), 1);
    return out;
}

TEST(MessagePaths, ArmouredMembersEqualTheirComposition) {
    std::mt19937 rng(0x5EED0004);
    RC2 a, b;
    const std::string key = test::RandomBytesWithZeros(rng, 16);
    a.Key(key);
    b.Key(key);
    for (std::size_t n = 0; n < 200; n += 1 + n / 8) {
        const std::string original = test::RandomBytesWithZeros(rng, n);
        std::string via_asc = original, via_plain = original;
        const std::string asc = a.EncryptAsc(via_asc);
        const std::string ciphertext = b.Encrypt(via_plain);
        EXPECT_EQ(via_asc, via_plain) << "the argument is filled the same way";
        EXPECT_EQ(asc, BlindAscii::Full2Asc(ciphertext));
        EXPECT_EQ(a.Result(), ciphertext);
        EXPECT_EQ(a.ResultAsc(), asc);

        const std::string plain = a.DecryptAsc(asc);
        EXPECT_EQ(plain, b.Decrypt(ciphertext));
        EXPECT_EQ(a.Result(), plain);
        EXPECT_EQ(plain, original.substr(0, original.find_last_not_of('\0') + 1));
    }
}

// The table-driven codecs write several digits per store; these known forms
// and round trips of every length guard that.
TEST(MessagePaths, CodecsKeepTheirKnownForms) {
    const std::pair<std::string, std::string> armour[] = {
        {"", ""},           {"a", "001v1"},         {"ab", "05LM2"},         {"abc", "md9J0"},
        {"abcd", "md9J001y1"}, {std::string(1, '\0'), "00001"}, {std::string(2, '\0'), "00002"},
        {std::string(3, '\0'), "00000"}, {"\xFF", "003V1"}, {"\xFF\xFF", "0f2-2"}, {"\xFF\xFF\xFF", "Wnyf0"}};
    for (const auto& [bytes, text] : armour) {
        EXPECT_EQ(BlindAscii::Full2Asc(bytes), text);
        EXPECT_EQ(BlindAscii::Asc2Full(text), bytes);
    }
    EXPECT_EQ(hex::Write(std::string("\x00\x0F\xA0\xFF", 4)), "000FA0FF");
    const std::pair<std::string, std::string> lenient[] = {
        {"0a0B", "\x0A\x0B"}, {"ABC", "\xAB\x0C"}, {"zz12", std::string("\x00\x12", 2)}, {"1z", "\x01"},
        {"g", std::string(1, '\0')}, {" 1\t2\n3", std::string("\x01\x02\x03", 3)}, {"12345678 9abcdef", "\x12\x34\x56\x78\x09\xAB\xCD\xEF"}};
    for (const auto& [text, bytes] : lenient) EXPECT_EQ(hex::Read(text), bytes) << text;

    std::mt19937 rng(0x5EED0005);
    for (std::size_t n = 0; n < 300; ++n) {
        const std::string bytes = test::RandomBytesWithZeros(rng, n);
        const std::string text = BlindAscii::Full2Asc(bytes);
        ASSERT_EQ(text.size(), n == 0 ? 0 : 4 * ((n + 2) / 3) + 1);
        ASSERT_EQ(BlindAscii::Asc2Full(text), bytes);
        ASSERT_EQ(hex::Read(hex::Write(bytes)), bytes);
    }
}

TEST(MessagePaths, FailuresAndBlanksLeaveTheLastResult) {
    RC2 rc2;
    std::string text = "abc";
    const std::string ciphertext = rc2.Encrypt(text);
    struct Case {
        const char* what;
        std::function<std::string()> call;
        int error;  // 0: returns "" without error
    };
    const Case cases[] = {
        {"Decrypt of 12 bytes", [&] { return rc2.Decrypt(std::string(12, 'x')); }, 5},
        {"DecryptHex of 7 bytes", [&] { return rc2.DecryptHex("00112233445566"); }, 5},
        {"DecryptAsc with tail J", [&] { return rc2.DecryptAsc("md9J"); }, 6},
        {"DecryptAsc of ZZZZ0", [&] { return rc2.DecryptAsc("ZZZZ0"); }, 5},
        {"Decrypt of spaces", [&] { return rc2.Decrypt("        "); }, 0},
        {"DecryptAsc of one character", [&] { return rc2.DecryptAsc("x"); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.error == 0) {
            EXPECT_EQ(c.call(), "");
        } else {
            try {
                c.call();
                ADD_FAILURE() << "no error";
            } catch (const Error& e) {
                EXPECT_EQ(e.code(), c.error);
            }
        }
        EXPECT_EQ(rc2.Result(), ciphertext);
    }
}

// Long messages go through the cipher a piece at a time into two outputs;
// every piece boundary, and buffers large enough for huge pages, must give
// what the one-block reference gives.
TEST(MessagePaths, LongMessagesEqualTheBlockReference) {
    std::mt19937 rng(16);
    RC2 rc2, reference;
    rc2.Key("long messages");
    reference.Key("long messages");
    constexpr std::size_t kPiece = 16 * 1024;
    for (std::size_t n : {kPiece - 8, kPiece, kPiece + 8, 3 * kPiece + 24, std::size_t{5} << 20}) {
        std::string plain = test::RandomBytesWithZeros(rng, n);
        plain.back() = 'x';  // no zero bytes to strip at the end
        const std::string expected = BlockByBlock(reference, plain);
        std::string text = plain;
        const std::string ciphertext = rc2.Encrypt(text);
        ASSERT_EQ(ciphertext, expected) << n;
        EXPECT_EQ(rc2.Result(), expected) << n;
        EXPECT_EQ(rc2.Decrypt(ciphertext), plain) << n;
        EXPECT_EQ(rc2.Result(), plain) << n;

        // The text forms of the whole are those of short slices, joined (an
        // armoured slice of whole groups ends in the tail mark "0").
        std::string hex, asc;
        constexpr std::size_t kSlice = 3000;
        for (std::size_t at = 0; at < n; at += kSlice) {
            const std::string_view slice = std::string_view(plain).substr(at, kSlice);
            hex += hex::Write(slice);
            asc += BlindAscii::Full2Asc(slice);
            if (at + kSlice < n) asc.pop_back();
        }
        ASSERT_EQ(hex::Write(plain), hex) << n;
        ASSERT_EQ(hex::Read(hex), plain) << n;
        ASSERT_EQ(BlindAscii::Full2Asc(plain), asc) << n;
        ASSERT_EQ(BlindAscii::Asc2Full(asc), plain) << n;
    }
}

// Decrypting the last result itself, or a view into it, reads the input
// before the last result is rewritten.
TEST(MessagePaths, DecryptOfTheLastResultItself) {
    std::mt19937 rng(17);
    RC2 rc2;
    rc2.Key("aliasing");
    for (std::size_t n : {std::size_t{16}, std::size_t{64} * 1024 + 16}) {
        std::string plain = test::RandomBytesWithZeros(rng, n);
        plain.back() = 'x';
        plain[n - 9] = 'y';
        std::string text = plain;
        rc2.Encrypt(text);
        EXPECT_EQ(rc2.Decrypt(rc2.Result()), plain) << n;
        rc2.Encrypt(text);
        const std::string_view tail = std::string_view(rc2.Result()).substr(8);
        EXPECT_EQ(rc2.Decrypt(tail), plain.substr(8)) << n;
    }
}

// The members that write into a caller's storage give Encrypt's and
// Decrypt's bytes, last result and errors, across piece boundaries and with
// the final block filled, and write nothing when they fail.
TEST(MessagePaths, IntoCallersStorageEqualsTheMembers) {
    std::mt19937 rng(18);
    RC2 into, plain;
    into.Key("caller's storage");
    plain.Key("caller's storage");
    constexpr std::size_t kPiece = 16 * 1024;
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{9}, kPiece - 1,
                          kPiece, kPiece + 3, 2 * kPiece + 8, (std::size_t{1} << 20) + 5}) {
        SCOPED_TRACE(n);
        std::string text = test::RandomBytesWithZeros(rng, n);
        if (n > 20) std::fill(text.end() - 20, text.end(), '\0');  // zeros to strip across a block edge
        const std::string original = text;
        std::string out(RC2::FilledSize(n) + 1, '#');
        into.EncryptTo(original, out.data());
        const std::string ciphertext = plain.Encrypt(text);
        ASSERT_EQ(RC2::FilledSize(n), text.size());
        EXPECT_EQ(out.substr(0, ciphertext.size()), ciphertext);
        EXPECT_EQ(out.back(), '#') << "nothing past the ciphertext";
        EXPECT_EQ(into.Result(), ciphertext);

        std::string back(ciphertext.size(), '#');
        const std::size_t kept = into.DecryptTo(ciphertext, back.data());
        const std::string expected = plain.Decrypt(ciphertext);
        ASSERT_EQ(kept, expected.size());
        EXPECT_EQ(back.substr(0, kept), expected);
        EXPECT_EQ(back.find_first_not_of('\0', kept), std::string::npos) << "the rest are the removed zeros";
        EXPECT_EQ(into.Result(), expected);

        // In place, and from a view of the last result itself.
        std::string inplace = ciphertext;
        EXPECT_EQ(into.DecryptTo(inplace, inplace.data()), kept);
        EXPECT_EQ(inplace.substr(0, kept), expected);
        into.EncryptTo(into.Result(), out.data());
        std::string again = expected;
        EXPECT_EQ(out.substr(0, RC2::FilledSize(kept)), plain.Encrypt(again));
    }

    const std::string before = into.Result();
    struct Case {
        std::string text;
        int error;  // 0: blank, returns 0
    };
    const Case cases[] = {{"", 0}, {"   ", 0}, {std::string(16, ' '), 0}, {"twelve bytes", 5}, {std::string(8, ' ') + "x", 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string out(c.text.size(), '#');
        if (c.error == 0) {
            EXPECT_EQ(into.DecryptTo(c.text, out.data()), 0u);
        } else {
            try {
                into.DecryptTo(c.text, out.data());
                ADD_FAILURE() << "no error";
            } catch (const Error& e) {
                EXPECT_EQ(e.code(), c.error);
                EXPECT_EQ(e.position().offset + e.position().size, c.text.size());
            }
        }
        EXPECT_EQ(out, std::string(c.text.size(), '#')) << "nothing written";
        EXPECT_EQ(into.Result(), before);
    }
}

// A large last result is written over the bytes of the one before it, and
// past their end appended: whatever the two sizes, where the old one ends
// inside a piece or on its edge, the last result is exactly the output and
// nothing of the old one survives in it.
TEST(MessagePaths, LargeResultsOverwriteTheOneBefore) {
    std::mt19937 rng(19);
    RC2 rc2, reference;
    rc2.Key("overwritten in place");
    reference.Key("overwritten in place");
    constexpr std::size_t kPiece = 16 * 1024, kLarge = std::size_t{1} << 20;
    // Sizes of the text, and zero bytes at its end (a decryption's result is
    // then shorter than its input by an odd amount).
    const std::pair<std::size_t, std::size_t> steps[] = {
        {2 * kLarge + 8, 0},      {kLarge, 0},    {kLarge + 3 * kPiece + 40, 13}, {kLarge + 3 * kPiece + 40, 0},
        {kLarge + kPiece, 1},     {100, 0},       {kLarge + 7, 0},                {3 * kLarge + 5, kPiece + 9},
        {kLarge + 2 * kPiece, 0}, {2 * kLarge + 8, 5000}};
    for (const auto& [n, zeros] : steps) {
        std::string text = test::RandomBytes(rng, n);
        std::fill(text.end() - static_cast<std::ptrdiff_t>(zeros), text.end(), '\0');
        if (zeros < n) text[n - zeros - 1] = 'x';
        std::string filled = text;
        filled.append(RC2::FilledSize(n) - n, '\0');
        const std::string ciphertext = BlockByBlock(reference, filled);
        const std::string plain      = filled.substr(0, filled.find_last_not_of('\0') + 1);
        // Each member follows the last result of the one before.
        for (int way = 0; way < 4; ++way) {
            SCOPED_TRACE(testing::Message() << "text of " << n << " bytes, member " << way);
            std::string out(ciphertext.size(), '#');
            switch (way) {
                case 0: { std::string arg = text; out = rc2.Encrypt(arg); break; }
                case 1: out = rc2.Decrypt(ciphertext); break;
                case 2: rc2.EncryptTo(text, out.data()); break;
                case 3: out.resize(rc2.DecryptTo(ciphertext, out.data())); break;
            }
            const std::string& expected = way % 2 == 0 ? ciphertext : plain;
            ASSERT_EQ(out, expected);
            ASSERT_EQ(rc2.Result(), expected);
        }
    }
}

// A key stored into the buffer of an earlier, longer key (and a key set from
// a view of the stored key itself) expands exactly as on a fresh object.
TEST(MessagePaths, ReusedKeyBufferExpandsAsFresh) {
    const std::string keys[] = {std::string(128, 'k'), "short key", std::string(40, '\xFF'), "x"};
    RC2 reused;
    for (const std::string& key : keys) {
        RC2 fresh;
        reused.EffectiveKeyLength(77);
        fresh.EffectiveKeyLength(77);
        reused.Key(key);
        fresh.Key(key);
        EXPECT_EQ(reused.ExpandedKey(), fresh.ExpandedKey()) << key.size();
        EXPECT_EQ(reused.Key(), key);
        reused.Key(reused.Key());
        EXPECT_EQ(reused.ExpandedKey(), fresh.ExpandedKey()) << key.size();
    }
}

}  // namespace
}  // namespace morvik
