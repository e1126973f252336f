// The PITABLE of RFC 2268, kept as the 767-character text of 256 two-digit
// lowercase hex entries separated by single spaces, and the byte table that the
// key expansion reads, parsed from that text at compile time so the two can
// never disagree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvik::detail {

inline constexpr std::string_view kPiTableText =
    "d9 78 f9 c4 19 dd b5 ed 28 e9 fd 79 4a a0 d8 9d "
    "c6 7e 37 83 2b 76 53 8e 62 4c 64 88 44 8b fb a2 "
    "17 9a 59 f5 87 b3 4f 13 61 45 6d 8d 09 81 7d 32 "
    "bd 8f 40 eb 86 b7 7b 0b f0 95 21 22 5c 6b 4e 82 "
    "54 d6 65 93 ce 60 b2 1c 73 56 c0 14 a7 8c f1 dc "
    "12 75 ca 1f 3b be e4 d1 42 3d d4 30 a3 3c b6 26 "
    "6f bf 0e da 46 69 07 57 27 f2 1d 9b bc 94 43 03 "
    "f8 11 c7 f6 90 ef 3e e7 06 c3 d5 2f c8 66 1e d7 "
    "08 e8 ea de 80 52 ee f7 84 aa 72 ac 35 4d 6a 2a "
    "96 1a d2 71 5a 15 49 74 4b 9f d0 5e 04 18 a4 ec "
    "c2 e0 41 6e 0f 51 cb cc 24 91 af 50 a1 f4 70 39 "
    "99 7c 3a 85 23 b8 b4 7a fc 02 36 5b 25 55 97 31 "
    "2d 5d fa 98 e3 8a 92 ae 05 df 29 10 67 6c ba c9 "
    "d3 00 e6 cf e1 9e a8 2c 63 16 01 3f 58 e2 89 a9 "
    "0d 38 34 1b ab 33 ff b0 bb 48 0c 5f b9 b1 cd 2e "
    "c5 f3 db 47 e5 a5 9c 77 0a a6 20 68 fe 7f c1 ad";

constexpr std::uint8_t HexDigitValue(char c) {
    return c >= '0' && c <= '9' ? static_cast<std::uint8_t>(c - '0')
         : c >= 'a' && c <= 'f' ? static_cast<std::uint8_t>(c - 'a' + 10)
         : throw "PITABLE text holds a character that is not a lowercase hex digit";
}

constexpr std::array<std::uint8_t, 256> ParsePiTable(std::string_view text) {
    if (text.size() != 767) throw "PITABLE text must hold 767 characters";
    std::array<std::uint8_t, 256> table{};
    for (std::size_t x = 0; x < 256; ++x) {
        if (x != 0 && text[3 * x - 1] != ' ') throw "PITABLE entries must be separated by one space";
        table[x] = static_cast<std::uint8_t>(HexDigitValue(text[3 * x]) * 16 + HexDigitValue(text[3 * x + 1]));
    }
    return table;
}

inline constexpr std::array<std::uint8_t, 256> kPiTable = ParsePiTable(kPiTableText);

constexpr bool IsPermutation(const std::array<std::uint8_t, 256>& t) {
    std::array<bool, 256> seen{};
    for (auto v : t) {
        if (seen[v]) return false;
        seen[v] = true;
    }
    return true;
}

static_assert(kPiTableText.substr(0, 11) == "d9 78 f9 c4");
static_assert(kPiTableText.substr(756) == "fe 7f c1 ad");
static_assert(IsPermutation(kPiTable), "PITABLE must be a permutation of 0..255");
static_assert(kPiTable[0] == 0xd9 && kPiTable[255] == 0xad);

}  // namespace morvik::detail
