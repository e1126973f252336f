#include <morvik/front/keys.h>

#include <cstdio>
#include <limits>

#include <morvik/code_page.h>
#include <morvik/detail/wipe.h>
#include <morvik/rc2.h>

#include <morvik/front/explain.h>
#include <morvik/front/failure.h>

namespace morvik::front {
namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool HexDigit(char c) { return Digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) { return Digit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// Characters that a terminal acts on or that show nothing: controls, and the
// format characters that reorder, join or hide text.
bool Hidden(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || c == 0x061C || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

}  // namespace

std::string Count(std::uint64_t n, const char* singular) {
    return Decimal(n) + " " + singular + (n == 1 ? "" : "s");
}

std::string Printable(std::string_view text) {
    std::string s;
    s.reserve(text.size());
    const auto escape = [&s](std::string_view bytes) {
        for (char c : bytes) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned char>(c));
            s += code;
        }
    };
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t n = Utf8Character(text.substr(i), c);
        const std::string_view sequence = text.substr(i, n ? n : 1);
        if (n == 0 || Hidden(c)) escape(sequence);
        else s += sequence;
        i += sequence.size();
    }
    return s;
}

std::string Quoted(std::string_view name) { return "'" + Printable(name) + "'"; }

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
            throw Failure(Exit::Key, source + ": character " + Decimal(i + 1) + " (" + Describe(typed[i]) +
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

void CheckKeyLength(std::string& key, const std::string& source) {
    if (!key.empty() && key.size() <= RC2::kMaxKeyLength) return;
    const std::string length = key.size() > RC2::kMaxKeyLength ? "more than 128" : "0";
    detail::Wipe(key);
    throw Failure(Exit::Key, source + ": the key has " + length + " bytes; a key has 1 to 128 bytes");
}

void CheckEffectiveBits(long long bits, const std::string& source) {
    if (bits >= RC2::kMinEffectiveBits && bits <= RC2::kMaxEffectiveBits) return;
    throw Failure(Exit::Key, source + " " + Decimal(bits) + ": the effective key length must be 0 to 1024");
}

// The code page's conversion says where the text went wrong, and wipes what
// it had converted of a key.
std::string TextBytes(std::string_view utf8, const std::string& option) {
    try {
        return SystemCodePage().FromUtf8(utf8);
    } catch (const Error& e) {
        throw Explained(e, option);
    }
}

std::string BytesToUtf8(std::string_view bytes) { return SystemCodePage().ToUtf8(bytes); }

}  // namespace morvik::front
