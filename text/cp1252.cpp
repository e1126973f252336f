#include <morvik/cp1252.h>

#include <algorithm>
#include <array>

#include <morvik/detail/wipe.h>
#include <morvik/error.h>

namespace morvik::cp1252 {
namespace {

// Bytes 0x80..0x9F; the rest of the code page is Latin-1. The five bytes that
// Windows-1252 leaves unassigned keep their C1 control characters.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

[[noreturn]] void Malformed(std::uint64_t offset) {
    ErrorPosition at;
    at.kind   = ErrorPosition::Kind::MalformedUtf8;
    at.offset = offset;
    throw Error(ErrorNumber::Overflow, at);
}

[[noreturn]] void Unmappable(char32_t c, std::uint64_t character, std::uint64_t offset) {
    ErrorPosition at;
    at.kind       = ErrorPosition::Kind::Unmappable;
    at.code_point = c;
    at.character  = character;
    at.offset     = offset;
    throw Error(ErrorNumber::Overflow, at);
}

// Characters of valid UTF-8 text: its bytes that do not continue a sequence.
std::uint64_t Characters(const unsigned char* p, const unsigned char* end) noexcept {
    return static_cast<std::uint64_t>(std::count_if(p, end, [](unsigned char b) { return (b & 0xC0) != 0x80; }));
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::optional<std::uint8_t> FromCodePoint(char32_t c) noexcept {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == c) return static_cast<std::uint8_t>(0x80 + i);
    return std::nullopt;
}

char32_t ToCodePoint(std::uint8_t b) noexcept { return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b; }

namespace {

void Convert(std::string_view utf8, std::string& out) {
    const auto* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end   = begin + utf8.size();
    for (const auto* p = begin; p < end;) {
        const auto* const start = p;
        const auto offset = static_cast<std::uint64_t>(start - begin);
        const unsigned char lead = *p++;
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            continue;
        }
        int extra;
        char32_t c, min;
        if ((lead & 0xE0) == 0xC0)      extra = 1, c = lead & 0x1F, min = 0x80;
        else if ((lead & 0xF0) == 0xE0) extra = 2, c = lead & 0x0F, min = 0x800;
        else if ((lead & 0xF8) == 0xF0) extra = 3, c = lead & 0x07, min = 0x10000;
        else Malformed(offset);
        if (end - p < extra) Malformed(offset);
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) Malformed(offset);
            c = (c << 6) | (*p & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are no characters.
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) Malformed(offset);
        const auto b = FromCodePoint(c);
        if (!b) Unmappable(c, Characters(begin, start) + 1, offset);
        out += static_cast<char>(*b);
    }
}

}  // namespace

std::string FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());  // never reallocates, so no copy of the text is left behind
    try {
        Convert(utf8, out);
    } catch (const Error&) {
        detail::Wipe(out);  // the text may be a key
        throw;
    }
    return out;
}

std::string FromUtf16(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        const auto b = u >= 0xD800 && u <= 0xDFFF ? std::nullopt : FromCodePoint(u);
        if (b) {
            out += static_cast<char>(*b);
            continue;
        }
        // A surrogate, paired or not, is never a Windows-1252 character; a
        // pair is named by the character it makes.
        char32_t c = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF)
            c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
        Unmappable(c, i + 1, 0);
    }
    return out;
}

std::string ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) AppendUtf8(ToCodePoint(b), out);
    return out;
}

std::u16string ToUtf16(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = static_cast<char16_t>(ToCodePoint(static_cast<std::uint8_t>(bytes[i])));
    return out;
}

}  // namespace morvik::cp1252
