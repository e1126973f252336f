#include <morvik/code_page.h>
#include <morvik/cp1252.h>

#include <algorithm>
#include <array>

#include <morvik/detail/wipe.h>
#include <morvik/error.h>

namespace morvik {
namespace {

// Bytes 0x80..0x9F; the rest of the code page is Latin-1. The five bytes that
// Windows-1252 leaves unassigned keep their C1 control characters.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

class Cp1252 final : public CodePage {
public:
    char16_t Char(std::uint8_t b) const noexcept override { return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b; }
    int Byte(char32_t c) const noexcept override {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
        for (std::size_t i = 0; i < kHigh.size(); ++i)
            if (kHigh[i] == c) return static_cast<int>(0x80 + i);
        return -1;
    }
    std::string Name() const override { return "Windows-1252"; }
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

// The one UTF-8 decoder: the character at `p`, which moves past it, or
// nothing for a malformed sequence (overlong, truncated, stray, beyond
// U+10FFFF, and a surrogate unless `surrogates` lets one through).
bool NextUtf8(const unsigned char*& p, const unsigned char* end, bool surrogates, char32_t& c) {
    const unsigned char lead = *p;
    int extra;
    char32_t min;
    if (lead < 0x80)                extra = 0, c = lead, min = 0;
    else if ((lead & 0xE0) == 0xC0) extra = 1, c = lead & 0x1F, min = 0x80;
    else if ((lead & 0xF0) == 0xE0) extra = 2, c = lead & 0x0F, min = 0x800;
    else if ((lead & 0xF8) == 0xF0) extra = 3, c = lead & 0x07, min = 0x10000;
    else return false;
    if (end - p - 1 < extra) return false;
    for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return false;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (!surrogates && c >= 0xD800 && c <= 0xDFFF)) return false;
    p += extra + 1;
    return true;
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Characters of valid UTF-8 text: its bytes that do not continue a sequence.
std::uint64_t Characters(const unsigned char* p, const unsigned char* end) noexcept {
    return static_cast<std::uint64_t>(std::count_if(p, end, [](unsigned char b) { return (b & 0xC0) != 0x80; }));
}

template <class F>
std::string Wiped(std::size_t reserve, F convert) {
    std::string out;
    out.reserve(reserve);  // never reallocates, so no copy of the text is left behind
    try {
        convert(out);
    } catch (const Error&) {
        detail::Wipe(out);  // the text may be a key
        throw;
    }
    return out;
}

}  // namespace

std::string CodePage::FromUtf8(std::string_view utf8) const {
    // Text that is ASCII alone, as hex and armoured text always are, is its
    // own bytes wherever the code page keeps ASCII as it is: one pass to see
    // it, one copy, instead of a character at a time.
    std::size_t ascii = 0;
    while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80 &&
           Byte(static_cast<unsigned char>(utf8[ascii])) == static_cast<unsigned char>(utf8[ascii]))
        ++ascii;
    if (ascii == utf8.size()) return std::string(utf8);
    return Wiped(utf8.size(), [&](std::string& out) {
        const auto* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
        const auto* const end   = begin + utf8.size();
        for (const auto* p = begin; p < end;) {
            const auto* const start = p;
            char32_t c = 0;
            if (!NextUtf8(p, end, false, c)) Malformed(static_cast<std::uint64_t>(start - begin));
            const int b = Byte(c);
            if (b < 0) Unmappable(c, Characters(begin, start) + 1, static_cast<std::uint64_t>(start - begin));
            out += static_cast<char>(b);
        }
    });
}

std::string CodePage::FromUtf16(std::u16string_view utf16) const {
    return Wiped(utf16.size(), [&](std::string& out) {
        for (std::size_t i = 0; i < utf16.size(); ++i) {
            const char16_t u = utf16[i];
            const int b = u >= 0xD800 && u <= 0xDFFF ? -1 : Byte(u);
            if (b >= 0) {
                out += static_cast<char>(b);
                continue;
            }
            // A surrogate, paired or not, is never a character of a byte; a
            // pair is named by the character it makes.
            char32_t c = u;
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF)
                c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
            Unmappable(c, i + 1, 0);
        }
    });
}

std::string CodePage::ToUtf8(std::string_view bytes) const {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char b : bytes) AppendUtf8(Char(b), out);
    return out;
}

std::u16string CodePage::ToUtf16(std::string_view bytes) const {
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = Char(static_cast<std::uint8_t>(bytes[i]));
    return out;
}

const CodePage& Windows1252() noexcept {
    static const Cp1252 page;
    return page;
}

#ifndef _WIN32
const CodePage& SystemCodePage() noexcept { return Windows1252(); }
#endif

std::size_t Utf8Character(std::string_view utf8, char32_t& c) noexcept {
    if (utf8.empty()) return 0;
    const auto* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* p = begin;
    return NextUtf8(p, begin + utf8.size(), false, c) ? static_cast<std::size_t>(p - begin) : 0;
}

std::string Utf16ToUtf8(std::u16string_view w) {
    std::string s;
    s.reserve(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
        char32_t c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (w[++i] - 0xDC00);
        AppendUtf8(c, s);
    }
    return s;
}

std::u16string Utf8ToUtf16(std::string_view utf8, std::size_t* bad) {
    std::u16string w;
    w.reserve(utf8.size());
    const auto* const begin = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end   = begin + utf8.size();
    for (const auto* p = begin; p < end;) {
        char32_t c = 0;
        if (!NextUtf8(p, end, true, c)) {
            if (bad) *bad = static_cast<std::size_t>(p - begin);
            return w;
        }
        if (c >= 0x10000) {
            w += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            w += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            w += static_cast<char16_t>(c);
        }
    }
    if (bad) *bad = std::string::npos;
    return w;
}

// ---- The fixed code page's own functions --------------------------------------

namespace cp1252 {

std::optional<std::uint8_t> FromCodePoint(char32_t c) noexcept {
    const int b = Windows1252().Byte(c);
    if (b < 0) return std::nullopt;
    return static_cast<std::uint8_t>(b);
}
char32_t ToCodePoint(std::uint8_t b) noexcept { return Windows1252().Char(b); }
std::string FromUtf8(std::string_view utf8) { return Windows1252().FromUtf8(utf8); }
std::string FromUtf16(std::u16string_view utf16) { return Windows1252().FromUtf16(utf16); }
std::string ToUtf8(std::string_view bytes) { return Windows1252().ToUtf8(bytes); }
std::u16string ToUtf16(std::string_view bytes) { return Windows1252().ToUtf16(bytes); }

}  // namespace cp1252
}  // namespace morvik
