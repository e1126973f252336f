// Morvik RC2 — the one error type of the library.
//
// Every failure that bad input can cause is reported by throwing `Error`, which
// carries one of the runtime error numbers that automation clients see (the COM
// frame turns it into HRESULT 0x800A0000 + number). Nothing else is thrown for
// bad input; std::bad_alloc can still escape on memory exhaustion.
#pragma once

#include <cstdint>
#include <exception>

#include <morvik/export.h>

namespace morvik {

enum class ErrorNumber : std::int32_t {
    InvalidArgument     = 5,  // "Invalid procedure call or argument"
    Overflow            = 6,  // "Overflow"
    SubscriptOutOfRange = 9,  // "Subscript out of range"
};

// The standard text of an error number; "" for numbers this library never raises.
MORVIK_API const char* ErrorText(ErrorNumber number) noexcept;

class MORVIK_API Error final : public std::exception {
public:
    explicit Error(ErrorNumber number) noexcept : number_(number) {}

    ErrorNumber number() const noexcept { return number_; }
    std::int32_t code() const noexcept { return static_cast<std::int32_t>(number_); }
    const char* what() const noexcept override { return ErrorText(number_); }

private:
    ErrorNumber number_;
};

}  // namespace morvik
