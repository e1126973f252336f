// Morvik RC2 — the one error type of the library.
//
// Every failure that bad input can cause is reported by throwing `Error`, which
// carries one of the runtime error numbers that automation clients see (the COM
// frame turns it into HRESULT 0x800A0000 + number). Nothing else is thrown for
// bad input; std::bad_alloc can still escape on memory exhaustion.
//
// An error of the message paths and the text codecs also says where in its
// input it was found (ErrorPosition), the same whether the input came whole or
// through a stream, so that a front can name the place in its own words
// without reading the input again.
#pragma once

#include <cstdint>
#include <exception>

namespace morvik {

enum class ErrorNumber : std::int32_t {
    InvalidArgument     = 5,  // "Invalid procedure call or argument"
    Overflow            = 6,  // "Overflow"
    SubscriptOutOfRange = 9,  // "Subscript out of range"
};

// The standard text of an error number; "" for numbers this library never raises.
const char* ErrorText(ErrorNumber number) noexcept;

// Where an error was found. `kind` says which fields hold something; the
// others stay zero. Offsets count bytes from 0, positions count characters
// from 1, both from the start of the whole input (not of a stream's piece).
struct ErrorPosition {
    enum class Kind : std::uint8_t {
        None,             // no place known
        IncompleteBlock,  // ciphertext of a length that is not a multiple of 8: offset, size
        Group,            // armour group too large for its bytes: group, character, size, chars,
                          //   bytes, final_group, and for the final group mark and value
        TailMark,         // armour tail mark of value 5 or more: character, mark, value
        MalformedUtf8,    // bytes that are no UTF-8 character: offset
        Unmappable,       // a character with no byte in the code page: character, code_point,
                          //   and offset in UTF-8
    };

    Kind          kind = Kind::None;
    // IncompleteBlock: where the incomplete final block starts (the input is
    // offset + size bytes long). MalformedUtf8, Unmappable: the first byte of
    // the UTF-8 sequence.
    std::uint64_t offset = 0;
    // Group: its first character. TailMark: the mark, the last character.
    // Unmappable: the character (UTF-16 text counts code units).
    std::uint64_t character = 0;
    std::uint64_t group = 0;        // Group: its number, 1 for the first four characters
    std::uint32_t size = 0;         // IncompleteBlock: its bytes, 1..7. Group: its characters, 1..4
    char          chars[4] = {};    // Group: its characters, `size` of them
    std::uint32_t bytes = 0;        // Group: the bytes its value must fit in, 3 or (final) 1..4
    bool          final_group = false;  // Group: the last group, whose bytes the tail mark sets
    char          mark = 0;         // TailMark, and Group when final_group: the tail mark
    std::int32_t  value = 0;        // TailMark, and Group when final_group: the mark's digit value
    char32_t      code_point = 0;   // Unmappable: the character
};

class Error final : public std::exception {
public:
    explicit Error(ErrorNumber number) noexcept : number_(number) {}
    Error(ErrorNumber number, const ErrorPosition& position) noexcept : number_(number), position_(position) {}

    ErrorNumber number() const noexcept { return number_; }
    std::int32_t code() const noexcept { return static_cast<std::int32_t>(number_); }
    const char* what() const noexcept override { return ErrorText(number_); }
    const ErrorPosition& position() const noexcept { return position_; }

private:
    ErrorNumber   number_;
    ErrorPosition position_;
};

}  // namespace morvik
