// Morvik RC2 — the code pages of byte strings, behind one interface.
//
// A byte string has one character per byte. Which character a byte is
// depends on the code page: Windows-1252 everywhere (the Western Windows
// client's), and on Windows the system's ANSI code page, whose table the
// automation object, the tool and every other front share so that all of
// them make the same bytes of the same string.
//
// Converting text to bytes never replaces a character: a character with no
// byte, or malformed UTF-8 or UTF-16, fails with ErrorNumber::Overflow and a
// position (morvik/error.h) that says where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <morvik/export.h>

namespace morvik {

class MORVIK_API CodePage {
public:
    virtual ~CodePage() = default;

    // The character of a byte; every table keeps to the Basic Multilingual Plane.
    virtual char16_t Char(std::uint8_t byte) const noexcept = 0;
    // The byte whose character `c` is, or -1 if none is.
    virtual int Byte(char32_t c) const noexcept = 0;
    // How a message names the code page: "Windows-1252", "the ANSI code page 932".
    virtual std::string Name() const = 0;

    // Text to bytes (what was converted of a failing text is wiped: it may be a key).
    std::string FromUtf8(std::string_view utf8) const;
    std::string FromUtf16(std::u16string_view utf16) const;
    // Bytes to text.
    std::string ToUtf8(std::string_view bytes) const;
    std::u16string ToUtf16(std::string_view bytes) const;
};

// Windows-1252, with its five unassigned bytes kept as the C1 control
// characters U+0081, U+008D, U+008F, U+0090 and U+009D.
MORVIK_API const CodePage& Windows1252() noexcept;

// The code page of this system's byte strings: on Windows the ANSI code
// page's table (AnsiCodePage::Ansi), elsewhere Windows-1252.
MORVIK_API const CodePage& SystemCodePage() noexcept;

// The well-formed UTF-8 character that `utf8` starts with: its length in
// bytes, and the character in `c`; 0 for an empty text or a malformed
// sequence (overlong, truncated, stray, a surrogate, beyond U+10FFFF).
MORVIK_API std::size_t Utf8Character(std::string_view utf8, char32_t& c) noexcept;

// UTF-16 and UTF-8 between themselves, for names and arguments that must come
// back to the system unchanged: an unpaired surrogate keeps its own three
// bytes one way and comes back the other.
MORVIK_API std::string Utf16ToUtf8(std::u16string_view utf16);
// The other way; `bad` (if given) gets the byte offset of the first
// malformed sequence, or std::string::npos, and the result ends before it.
MORVIK_API std::u16string Utf8ToUtf16(std::string_view utf8, std::size_t* bad = nullptr);

#ifdef _WIN32
// The table of one Windows code page's 256 byte values, all distinct, and its
// exact inverse.
//
// A byte has the character that the system's conversion gives it wherever
// that character converts back to this byte alone; in code page 1252 every
// byte does, so the strings there are what they always were, and unassigned
// bytes of single-byte code pages take the Private Use characters that the
// system itself gives them. The others, the lead bytes of double-byte code
// pages (a byte string has one byte per character, so they stand alone), get
// U+F700 plus their value, or, should some byte already have that, the next
// Private Use character that none has. Every string the object returns is
// therefore accepted back, and the same table comes out every time.
class MORVIK_API AnsiCodePage final : public CodePage {
public:
    // The table of this process's ANSI code page, made on first use.
    static const AnsiCodePage& Ansi() noexcept;

    explicit AnsiCodePage(unsigned code_page) noexcept;

    char16_t Char(std::uint8_t byte) const noexcept override { return chars_[byte]; }
    int Byte(char32_t c) const noexcept override;
    std::string Name() const override;
    // Whether `byte` has a substitute rather than the system's character.
    bool Substituted(std::uint8_t byte) const noexcept { return substituted_[byte]; }

private:
    unsigned code_page_;
    char16_t chars_[256] = {};
    struct Entry {
        char16_t     c;
        std::uint8_t byte;
    };
    Entry by_char_[256] = {};  // sorted by character
    bool  substituted_[256] = {};
};
#endif

}  // namespace morvik
