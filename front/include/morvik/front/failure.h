// Morvik RC2 fronts — how a call or a run fails.
//
// Each class of failure has its own status (the tool's exit status), so that
// scripts can tell a bad ciphertext from a missing file. 5 and 6 are the runtime error numbers
// that the RC2 object raises for the same input.
#pragma once

#include <stdexcept>
#include <string>

#include <morvik/error.h>

namespace morvik::front {

enum class Exit : int {
    Ok       = 0,
    Internal = 1,  // out of memory or another fault of the tool itself
    Usage    = 2,  // unknown command or option, conflicting inputs
    Key      = 3,  // no key, a key of 0 or more than 128 bytes, --bits outside 0..1024
    Io       = 4,  // an input that cannot be read, an output that cannot be written
    Invalid  = 5,  // a ciphertext with an incomplete block; an armour group above three bytes
    Overflow = 6,  // an armour tail mark of 5 or more; a character with no byte in the code page
    DataLoss = 7,  // data the output cannot hold whole: a plaintext that decryption would not give
                   // back (trailing zero bytes), a line break in a plaintext of one line
};

class Failure final : public std::runtime_error {
public:
    Failure(Exit status, const std::string& message, int system_error = 0)
        : std::runtime_error(message), status_(status), system_error_(system_error) {}
    // An error of the object, explained in `message`, keeping its position.
    Failure(Exit status, const std::string& message, const ErrorPosition& position)
        : std::runtime_error(message), status_(status), system_error_(0), position_(position) {}
    Exit status() const noexcept { return status_; }
    // For Exit::Io: the system's error number (errno, or GetLastError()), 0 if none.
    int system_error() const noexcept { return system_error_; }
    // For Exit::Invalid and Exit::Overflow: where the object's error was found.
    const ErrorPosition& position() const noexcept { return position_; }

private:
    Exit          status_;
    int           system_error_;
    ErrorPosition position_;
};

}  // namespace morvik::front
