// Morvik RC2 — BlindAscii, the base-66 armour of byte strings.
//
// Alphabet, by digit value: 0-9, a-z, A-Z, '+', '-', '/', '='.
// Each group of three bytes, read as a big-endian number, becomes four digits
// (most significant first, zero-filled); a final group of one or two bytes is
// filled the same way, and one tail digit with the input length mod 3 closes
// the text. L bytes give 4 * ceil(L / 3) + 1 characters; "" gives "".
//   "abc" -> "md9J0"   "a" -> "001v1"   "ab" -> "05LM2"
//
// Decoding is deliberately tolerant, as stored texts rely on it:
//  - any character outside the alphabet counts as digit 0, blanks included;
//  - the last character is the tail mark t; groups of four are read from the
//    left and each gives three bytes, the final group (1 to 4 characters)
//    gives t bytes (t = 0 or 3: three; 4: four bytes);
//  - a text that is only a tail mark decodes to "".
// Decoding fails with ErrorNumber::Overflow when the final group is decoded
// under a tail mark of value 5 or more, and with ErrorNumber::InvalidArgument
// when a group yields a byte above 255 (such as "ZZZZ0"). The group that fails
// first decides the error. A failing call produces nothing. The error's
// position (morvik/error.h) names the group (its number, first character,
// characters, the bytes it had to fit and, for the final group, the tail mark)
// or the tail mark (its character position and value).
//
// AscEncodeStream and AscDecodeStream are the same two conversions over an
// input that arrives in pieces: every way of cutting the input gives exactly
// the output and the error of Full2Asc or Asc2Full on the whole of it. They
// hold back at most the final group (3 bytes) or the final group and the tail
// mark (5 characters).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <morvik/export.h>
#include <morvik/sink.h>

namespace morvik {

class MORVIK_API BlindAscii final {
public:
    // The length of Full2Asc's text for n bytes: four characters for every
    // three bytes begun, and the tail mark; nothing for no bytes.
    static constexpr std::size_t AscSize(std::size_t n) noexcept { return n ? (n + 2) / 3 * 4 + 1 : 0; }
    static std::string Full2Asc(std::string_view bytes);
    static std::string Asc2Full(std::string_view text);

    // The digits of whole three-byte groups with no tail mark (bytes.size()
    // must be a multiple of 3), and their inverse for text whose length is a
    // multiple of 4 (none of it the final group). A failing decode leaves `out`
    // as it was; its error counts groups and characters from the start of `text`.
    static void AppendGroups(std::string_view bytes, std::string& out);
    static void AppendGroupsDecoded(std::string_view text, std::string& out);
    // Asc2Full of the whole of `text`, appended to `out`; a failing decode
    // leaves `out` as it was.
    static void AppendDecoded(std::string_view text, std::string& out);

    // The digit value of one character, 0 outside the alphabet: what a tail
    // mark or a group character counts for, for callers that explain errors.
    static int DigitValue(char c) noexcept;

private:
    friend struct BlindAsciiTables;  // builds the lookup tables from these at compile time

    // The digit value of the first character of `s`; 0 outside the alphabet.
    static constexpr std::int16_t Asc2Digit(std::string_view s) noexcept;
    // The character of a digit value, or "" for a value outside 0..65.
    static constexpr std::string_view Digit2Asc(std::int32_t value) noexcept;
    // Base-66 numeral, most significant digit first, no leading zeros ("0" for
    // 0). A fixed buffer rather than std::string keeps it usable at compile time.
    struct Numeral {
        char digits[8]{};  // 66^8 > 2^32
        std::size_t size = 0;
        constexpr std::string_view view() const noexcept { return {digits, size}; }
    };
    static constexpr Numeral Num2Asc(std::uint32_t x) noexcept;
    // Value of a base-66 numeral; characters outside the alphabet count as 0.
    static constexpr std::uint32_t Asc2Num(std::string_view s) noexcept;
};

// Full2Asc over pieces. Finish ends the input (and writes the final group and
// the tail mark); the stream then starts a new text, as it does after an
// exception that `out` throws.
class MORVIK_API AscEncodeStream final {
public:
    void Update(std::string_view bytes, Sink& out);
    void Finish(Sink& out);

    void Update(std::string_view bytes, std::string& out) { AppendSink sink(out); Update(bytes, sink); }
    void Finish(std::string& out) { AppendSink sink(out); Finish(sink); }

private:
    unsigned char last_[3] = {};  // the final group so far
    std::size_t   held_    = 0;   // its bytes: 1..3 once any input came
};

// Asc2Full over pieces. Update fails as soon as a group that cannot be the
// final one is too large (ErrorNumber::InvalidArgument); Finish decodes the
// final group under the tail mark and fails as Asc2Full does. After Finish,
// and after an exception (its own or one that `out` throws), the stream
// starts a new text. Output of the groups
// before a failing one may already have gone to `out`.
class MORVIK_API AscDecodeStream final {
public:
    void Update(std::string_view text, Sink& out);
    void Finish(Sink& out);

    void Update(std::string_view text, std::string& out) { AppendSink sink(out); Update(text, sink); }
    void Finish(std::string& out) { AppendSink sink(out); Finish(sink); }

private:
    // A group is known not to be the final one once two more characters have
    // come (one of the final group, and the tail mark).
    char          pending_[5] = {};
    std::size_t   held_       = 0;
    std::uint64_t groups_     = 0;  // groups decoded so far
};

}  // namespace morvik
