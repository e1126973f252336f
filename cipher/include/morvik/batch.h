// Morvik RC2 — many short messages at once, through the bulk kernels.
//
// A column of stored values decrypted one call at a time spends most of each
// call outside the cipher, and a value of two blocks never reaches the
// vector kernels. DecryptMany and EncryptMany take all of them in one pass:
// every message's blocks are laid out one after another in one buffer that
// the widest kernel runs over, then cut apart again.
//
// Each message's result and error are exactly what the member gives for it
// alone: Decrypt, DecryptHex or DecryptAsc (every zero byte at the end
// removed, a blank ciphertext giving nothing, the errors with their
// positions), and Encrypt with the ciphertext as bytes, ResultHex's hex text
// or EncryptAsc's armoured text. No message affects another, a failing
// message fails alone, and the object's Result is not touched.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <morvik/error.h>
#include <morvik/export.h>
#include <morvik/rc2.h>

namespace morvik {

enum class MessageForm { Raw, Hex, Asc };

struct MessageBatch {
    std::string              out;     // every message's result, one after another
    std::vector<std::size_t> ends;    // message i's result ends at out[ends[i]]; a failed one is empty
    std::vector<std::size_t> failed;  // the messages that failed, in order
    std::vector<Error>       errors;  // and their errors

    std::string_view Result(std::size_t i) const noexcept {
        const std::size_t begin = i == 0 ? 0 : ends[i - 1];
        return std::string_view(out).substr(begin, ends[i] - begin);
    }
};

// Ciphertexts in `form` to plaintexts. The batch's previous content is
// replaced; the plaintexts in `out` are secrets the caller wipes.
MORVIK_API void DecryptMany(const RC2& rc2, std::span<const std::string_view> messages, MessageForm form,
                            MessageBatch& batch);
// One ciphertext in `form` to its plaintext, as DecryptMany gives it, in
// `buffer`'s storage (its old content replaced, its capacity kept): the
// result is a view of `buffer`, valid until it changes. For a caller that
// gets its values one at a time (a database calling a function row by
// row): nothing is allocated once the buffer is large enough, and the
// object's Result is not touched. Throws Error as the member does.
MORVIK_API std::string_view DecryptOne(const RC2& rc2, std::string_view message, MessageForm form, std::string& buffer);
// Plaintexts to ciphertexts in `form`; encryption never fails.
MORVIK_API void EncryptMany(const RC2& rc2, std::span<const std::string_view> messages, MessageForm form,
                            MessageBatch& batch);

}  // namespace morvik
