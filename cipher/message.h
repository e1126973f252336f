// The rules of the message paths, shared by the RC2 members and the streams so
// that each is written once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <morvik/error.h>
#include <morvik/rc2.h>

namespace morvik::detail {

// A ciphertext of spaces only, or of nothing, decrypts to nothing.
inline bool SpacesOnly(std::string_view text) noexcept {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

// Every zero byte at the end of a plaintext goes, padding or not.
inline std::size_t ZerosAtEnd(std::string_view plain) noexcept {
    const std::size_t last = plain.find_last_not_of('\0');
    return last == std::string_view::npos ? plain.size() : plain.size() - last - 1;
}

// A ciphertext that is not blank must be whole blocks.
[[noreturn]] inline void IncompleteBlock(std::uint64_t length) {
    ErrorPosition at;
    at.kind   = ErrorPosition::Kind::IncompleteBlock;
    at.size   = static_cast<std::uint32_t>(length % RC2::kBlockSize);
    at.offset = length - at.size;
    throw Error(ErrorNumber::InvalidArgument, at);
}

}  // namespace morvik::detail
