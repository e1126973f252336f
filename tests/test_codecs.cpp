// Properties of the text forms: round trips over every short length and every
// byte value, and the armour decoder against a literal model of the format in
// double precision, on texts full of foreign characters and odd tails.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <variant>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include <morvik/cp1252.h>
#include "tests/support/vec.h"

namespace morvik {
namespace {

std::string SampleBytes(std::mt19937_64& rng, std::size_t n, int round) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        // Rounds alternate between random bytes and sweeps that put every
        // byte value, 0 and 255 included, at every position.
        s[i] = round % 2 ? static_cast<char>(rng()) : static_cast<char>((i * 37 + static_cast<std::size_t>(round)) & 0xFF);
    }
    return s;
}

TEST(Codecs, RoundTripEveryLength) {
    std::mt19937_64 rng(66);
    for (std::size_t n = 0; n <= 64; ++n) {
        for (int round = 0; round < 16; ++round) {
            const std::string bytes = SampleBytes(rng, n, round);
            const std::string asc = BlindAscii::Full2Asc(bytes);
            ASSERT_EQ(asc.size(), n == 0 ? 0 : 4 * ((n + 2) / 3) + 1) << n;
            ASSERT_EQ(asc.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-/="),
                      std::string::npos);
            ASSERT_EQ(BlindAscii::Asc2Full(asc), bytes) << n;

            const std::string hexText = hex::Write(bytes);
            ASSERT_EQ(hexText.size(), 2 * n);
            ASSERT_EQ(hexText.find_first_not_of("0123456789ABCDEF"), std::string::npos);
            ASSERT_EQ(hex::Read(hexText), bytes);
        }
    }
}

TEST(Codecs, HexTextOfDigitsComesBackInUppercase) {
    std::mt19937_64 rng(16);
    const char digits[] = "0123456789abcdefABCDEF";
    for (std::size_t n = 0; n <= 64; n += 2) {
        std::string text;
        for (std::size_t i = 0; i < n; ++i) text += digits[rng() % 22];
        std::string upper = text;
        for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_EQ(hex::Write(hex::Read(text)), upper);
    }
}

TEST(Codecs, EveryByteValueThroughEveryForm) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    all += '\x01';  // so that Decrypt strips nothing
    RC2 rc2;
    rc2.Key(all.substr(0, 128));
    std::string text = all;
    const std::string asc = rc2.EncryptAsc(text);
    EXPECT_EQ(rc2.DecryptAsc(asc), all);
    EXPECT_EQ(rc2.DecryptHex(hex::Write(rc2.Encrypt(text))), all);
    EXPECT_EQ(cp1252::FromUtf8(cp1252::ToUtf8(all)), all);
    EXPECT_EQ(cp1252::FromUtf16(cp1252::ToUtf16(all)), all);
}

// The decoding algorithm written out step by step, with the place values in
// double precision and the 32-bit conversions checked, as an independent model.
std::variant<std::string, int> ModelAsc2Full(const std::string& text) {
    auto digit = [](char ch) -> int {
        const int c = static_cast<unsigned char>(ch);
        if (c >= 48 && c <= 57) return c - 48;
        if (c >= 97 && c <= 122) return c - 97 + 10;
        if (c >= 65 && c <= 90) return c - 65 + 36;
        return c == 43 ? 62 : c == 45 ? 63 : c == 47 ? 64 : c == 61 ? 65 : 0;
    };
    if (text.empty()) return std::string();
    const int t = digit(text.back());
    std::string rest = text.substr(0, text.size() - 1), out;
    while (!rest.empty()) {
        const std::string group = rest.substr(0, 4);
        rest = rest.size() > 4 ? rest.substr(4) : std::string();
        double value = 0;
        for (std::size_t i = 0; i < group.size(); ++i)
            value += digit(group[group.size() - 1 - i]) * std::pow(66.0, static_cast<double>(i));
        auto n = static_cast<std::int64_t>(value);
        const int k = !rest.empty() ? 3 : t == 0 ? 3 : t;
        for (int v = k; v >= 1; --v) {
            const double place = std::pow(256.0, v - 1);
            if (place > 2147483647.0) return 6;
            const auto p = static_cast<std::int64_t>(place);
            if (n / p > 255) return 5;
            out += static_cast<char>(n / p);
            n %= p;
        }
    }
    return out;
}

TEST(Codecs, ArmourDecoderMatchesTheModel) {
    std::mt19937_64 rng(3);
    const std::string pool = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-/=";
    const std::string foreign = " \t\n~.*\x80\xe9\xff";
    int failures = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::size_t n = rng() % 22;
        std::string text;
        for (std::size_t i = 0; i < n; ++i) {
            const auto r = rng() % 100;
            // Mostly small digits so that groups stay in range and decode.
            text += r < 10 ? foreign[rng() % foreign.size()] : r < 80 ? pool[rng() % 10] : pool[rng() % pool.size()];
        }
        if (!text.empty() && rng() % 2) text.back() = "01234"[rng() % 5];
        const auto expected = ModelAsc2Full(text);
        try {
            const std::string got = BlindAscii::Asc2Full(text);
            ASSERT_TRUE(std::holds_alternative<std::string>(expected)) << '"' << text << "\" should fail";
            ASSERT_EQ(test::Hex(got), test::Hex(std::get<std::string>(expected))) << '"' << text << '"';
        } catch (const Error& e) {
            ++failures;
            ASSERT_TRUE(std::holds_alternative<int>(expected)) << '"' << text << "\" failed with " << e.code();
            ASSERT_EQ(e.code(), std::get<int>(expected)) << '"' << text << '"';
        }
    }
    // Both outcomes must have been exercised for the comparison to mean much.
    EXPECT_GT(failures, 1000);
    EXPECT_LT(failures, 19000);
}

TEST(Codecs, StreamingPiecesEqualTheWhole) {
    std::mt19937_64 rng(4);
    const std::string bytes = SampleBytes(rng, 3 * 1000, 1);
    std::string pieces;
    for (std::size_t at = 0; at < bytes.size(); at += 3 * 37)
        BlindAscii::AppendGroups(std::string_view(bytes).substr(at, 3 * 37), pieces);
    EXPECT_EQ(pieces + "0", BlindAscii::Full2Asc(bytes));
    std::string decoded;
    for (std::size_t at = 0; at < pieces.size(); at += 4 * 53)
        BlindAscii::AppendGroupsDecoded(std::string_view(pieces).substr(at, 4 * 53), decoded);
    EXPECT_EQ(decoded, bytes);
}

TEST(Cp1252, MapsTheCodePageBothWays) {
    struct Case { const char* utf8; int byte; };
    for (const Case c : {Case{"\xe2\x82\xac", 0x80}, {"\xc2\x81", 0x81}, {"\xc5\xb8", 0x9F}, {"\xc3\xa9", 0xE9},
                         {"\xc2\xa0", 0xA0}, {"\xc3\xbf", 0xFF}, {"A", 0x41}, {"\xe2\x84\xa2", 0x99}}) {
        EXPECT_EQ(cp1252::FromUtf8(c.utf8), std::string(1, static_cast<char>(c.byte))) << c.utf8;
        EXPECT_EQ(cp1252::ToUtf8(std::string(1, static_cast<char>(c.byte))), c.utf8);
    }
    EXPECT_EQ(cp1252::FromUtf16(u"\u20ac\u0178x"), "\x80\x9f" "x");
}

TEST(Cp1252, RefusesWhatHasNoByte) {
    const std::string utf8Cases[] = {
        "\xc4\x80",          // U+0100: not in the code page
        "\xc2\x80",          // U+0080: its byte belongs to the euro sign
        "\xf0\x9f\x98\x80",  // outside the BMP
        "\xc3",              // truncated
        "\xc0\xa9",          // overlong
        "\xed\xa0\x80",      // a surrogate
        "\xff",              // not UTF-8 at all
        "ok\x80",            // stray continuation byte
    };
    for (const auto& s : utf8Cases) {
        try {
            cp1252::FromUtf8(s);
            ADD_FAILURE() << test::Hex(s) << " converted";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), 6);
        }
    }
    for (const std::u16string& s : {std::u16string(u"\u0100"), std::u16string(1, char16_t(0xD800)), std::u16string(u"\U0001F600")}) {
        EXPECT_THROW(cp1252::FromUtf16(s), Error);
    }
}

}  // namespace
}  // namespace morvik
