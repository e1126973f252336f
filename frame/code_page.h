// Byte strings across the automation boundary: one character per byte
// through the ANSI code page, both ways, for every one of the 256 byte values.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <utility>

namespace morvik::frame {

// The characters of one code page's 256 byte values, all distinct, and the
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
class CodePage {
public:
    // The table of this process's ANSI code page, made on first use.
    static const CodePage& Ansi() noexcept;

    explicit CodePage(UINT code_page) noexcept;

    wchar_t Char(std::uint8_t byte) const noexcept { return chars_[byte]; }
    // The byte whose character `c` is, or -1 if none is.
    int Byte(wchar_t c) const noexcept;
    // Whether `byte` has a substitute rather than the system's character.
    bool Substituted(std::uint8_t byte) const noexcept { return substituted_[byte]; }

private:
    std::array<wchar_t, 256> chars_{};
    std::array<std::pair<wchar_t, std::uint8_t>, 256> by_char_{};  // sorted by character
    std::array<bool, 256> substituted_{};
};

}  // namespace morvik::frame
