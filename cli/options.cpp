#include "options.h"

#include <cstdio>
#include <limits>

#include <morvik/cp1252.h>
#include <morvik/detail/wipe.h>
#include <morvik/rc2.h>

#include "failure.h"
#include "stages.h"

namespace morvik::cli {
namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool HexDigit(char c) { return Digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) { return Digit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// One UTF-8 sequence at `at` (the well-formed byte sequences of the Unicode
// standard, table 3-7): its length, or 0 when it is malformed.
std::size_t DecodeOne(std::string_view s, std::size_t at, char32_t& c) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[at + i]); };
    const unsigned char lead = b(0);
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (lead < 0x80) return c = lead, 1;
    if (lead >= 0xC2 && lead <= 0xDF) len = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) len = 3, lo = lead == 0xE0 ? 0xA0 : 0x80, hi = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4) len = 4, lo = lead == 0xF0 ? 0x90 : 0x80, hi = lead == 0xF4 ? 0x8F : 0xBF;
    else return 0;
    if (s.size() - at < len) return 0;
    if (b(1) < lo || b(1) > hi) return 0;
    c = lead & (0x7F >> len);
    for (std::size_t i = 1; i < len; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b(i) & 0x3F);
    }
    return len;
}

}  // namespace

std::string Count(std::uint64_t n, const char* singular) {
    return std::to_string(n) + " " + singular + (n == 1 ? "" : "s");
}

std::string Printable(std::string_view text) {
    std::string s;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7F) {
            s += c;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", b);
            s += code;
        }
    }
    return s;
}

std::int32_t EffectiveBits(std::string_view typed) {
    const std::string range = ": the effective key length must be 0 to 1024";
    std::string_view digits = typed;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
    bool decimal = !digits.empty();
    for (char c : digits) decimal = decimal && Digit(c);
    if (!decimal)
        throw Failure(Exit::Key, "--bits '" + Printable(typed) + "' is not a decimal number" + range);
    std::int64_t value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > RC2::kMaxEffectiveBits) throw Failure(Exit::Key, "--bits " + std::string(typed) + range);
    }
    if (negative) value = -value;
    if (value < RC2::kMinEffectiveBits) throw Failure(Exit::Key, "--bits " + std::string(typed) + range);
    return static_cast<std::int32_t>(value);
}

std::string StrictHexKey(std::string_view typed, const std::string& source) {
    for (std::size_t i = 0; i < typed.size(); ++i) {
        if (!HexDigit(typed[i]))
            throw Failure(Exit::Key, source + ": character " + std::to_string(i + 1) + " (" + Describe(typed[i]) +
                                         ") is not a hex digit; a key in hex is two digits 0-9, A-F or a-f per byte");
    }
    if (typed.size() % 2 != 0)
        throw Failure(Exit::Key, source + ": " + Count(typed.size(), "hex digit") +
                                     ", an odd number; a key in hex is two digits per byte");
    std::string key;
    key.reserve(typed.size() / 2);
    for (std::size_t i = 0; i < typed.size(); i += 2)
        key += static_cast<char>(HexValue(typed[i]) * 16 + HexValue(typed[i + 1]));
    return key;
}

// The core's conversion says only that it failed; the position is found here.
std::string TextArgument(std::string_view utf8, const std::string& option) {
    std::string bytes;
    bytes.reserve(utf8.size());  // no reallocation leaves a copy of a key behind
    std::size_t index = 1;
    for (std::size_t at = 0; at < utf8.size(); ++index) {
        char32_t c = 0;
        const std::size_t len = DecodeOne(utf8, at, c);
        if (len == 0) {
            detail::Wipe(bytes);
            throw Failure(Exit::Overflow, option + ": malformed UTF-8 at byte offset " + std::to_string(at));
        }
        const auto byte = cp1252::FromCodePoint(c);
        if (!byte) {
            detail::Wipe(bytes);
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            throw Failure(Exit::Overflow,
                          option + ": character " + std::to_string(index) + " (" + code + ") has no Windows-1252 byte");
        }
        bytes += static_cast<char>(*byte);
        at += len;
    }
    return bytes;
}

}  // namespace morvik::cli
