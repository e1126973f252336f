// Morvik RC2 — Unicode text to byte strings through one fixed code page.
//
// Windows-1252, with its five unassigned bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D
// mapped to the C1 control characters U+0081, U+008D, U+008F, U+0090, U+009D,
// so that all 256 byte values convert both ways. It stands in for the ANSI
// code page of a Western Windows client where there is none.
//
// A character with no byte in the code page, and malformed UTF-8 or UTF-16,
// fail with ErrorNumber::Overflow; nothing is ever replaced by '?'. The error's
// position (morvik/error.h) gives the byte offset of malformed UTF-8 (a
// truncated or overlong sequence, a surrogate, a value beyond U+10FFFF), or
// the 1-based position and the code point of a character with no byte (in
// UTF-16 counted in code units; a surrogate, paired or not, has no byte).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvik::cp1252 {

// The byte for one Unicode scalar value, or nothing.
std::optional<std::uint8_t> FromCodePoint(char32_t c) noexcept;
// The Unicode scalar value of one byte.
char32_t ToCodePoint(std::uint8_t b) noexcept;

std::string FromUtf8(std::string_view utf8);
std::string FromUtf16(std::u16string_view utf16);
std::string ToUtf8(std::string_view bytes);
std::u16string ToUtf16(std::string_view bytes);

}  // namespace morvik::cp1252
