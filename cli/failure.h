// morvik (the command-line tool) — how a run ends.
//
// Each class of failure has its own exit status, so that scripts can tell a
// bad ciphertext from a missing file. 5 and 6 are the runtime error numbers
// that the RC2 object raises for the same input.
#pragma once

#include <stdexcept>
#include <string>

namespace morvik::cli {

enum class Exit : int {
    Ok       = 0,
    Internal = 1,  // out of memory or another fault of the tool itself
    Usage    = 2,  // unknown command or option, conflicting inputs
    Key      = 3,  // no key, a key of 0 or more than 128 bytes, --bits outside 0..1024
    Io       = 4,  // an input that cannot be read, an output that cannot be written
    Invalid  = 5,  // a ciphertext with an incomplete block; an armour group above three bytes
    Overflow = 6,  // an armour tail mark of 5 or more; a character with no Windows-1252 byte
    DataLoss = 7,  // data the output cannot hold whole: a plaintext that decryption would not give
                   // back (trailing zero bytes), a line break in a plaintext of one line
};

class Failure final : public std::runtime_error {
public:
    Failure(Exit status, const std::string& message) : std::runtime_error(message), status_(status) {}
    Exit status() const noexcept { return status_; }

private:
    Exit status_;
};

}  // namespace morvik::cli
