// The SQL functions of both engines, apart from the engines: each call's
// bytes and errors, so that SQLite and PostgreSQL give the same answer and
// the same message for the same row.
//
// SQL is strict where the object is lenient: a key outside 1..128 bytes,
// bits outside 0..1024, a plaintext that decryption could not give back
// (it ends in zero bytes) and a value that cannot be decrypted are errors,
// never a silent other result. Text arguments arrive as UTF-8 and become
// Windows-1252 bytes, as a Western script's strings did.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <morvik/rc2.h>

namespace morvik::sql {

enum class Call { Encrypt, Decrypt, EncryptToHex, DecryptFromHex, EncryptToAsc, DecryptFromAsc };

// Whether a call decrypts (its try_ variant gives NULL for a bad value).
constexpr bool Decrypts(Call c) {
    return c == Call::Decrypt || c == Call::DecryptFromHex || c == Call::DecryptFromAsc;
}
// Whether a call's result is text (hex or armour) rather than bytes.
constexpr bool GivesText(Call c) { return c == Call::EncryptToHex || c == Call::EncryptToAsc; }
// Whether a call's value is text (hex or armour) whatever type it comes as.
constexpr bool TakesText(Call c) { return c == Call::DecryptFromHex || c == Call::DecryptFromAsc; }

// An argument: its bytes, and whether the engine gave it as text (UTF-8).
struct Arg {
    std::string_view data;
    bool text = false;
};

// What went wrong: `number` is the object's runtime error number (5 or 6)
// for a value that cannot be decrypted, 0 for everything else (a bad key,
// bits or plaintext); `message` is the front layer's explanation.
struct Fault {
    int number = 0;
    std::string message;
    // Whether the try_ variant turns it into NULL: only a bad value does.
    bool bad_value = false;
};

// The key schedule of one key and effective length, made once and kept by
// the engine for as long as the key stays the same (a constant key: one per
// query, not one per row).
class Keyed {
public:
    // Fails (Fault, not a bad value) for a key or bits out of range.
    Keyed(Arg key, long long bits);
    ~Keyed();
    Keyed(const Keyed&)            = delete;
    Keyed& operator=(const Keyed&) = delete;
    bool Same(Arg key, long long bits) const;
    // The result of `call` on `value`, valid until the next call; throws
    // Fault. Row after row, the result reuses one buffer: nothing allocated
    // once it is large enough.
    std::string_view Run(Call call, Arg value);

private:
    RC2         rc2_;
    std::string out_;    // the last result (a plaintext: wiped when done)
    std::string text_in_;  // a text value turned into the code page's bytes
    std::string typed_;  // the key as given, to tell the next row's key from it
    bool        text_ = false;
    long long   bits_ = 0;
};

// rc2_text and rc2_bytes: bytes as their Windows-1252 characters (UTF-8), and
// back; a character with no byte there is a Fault.
std::string TextOfBytes(std::string_view bytes);
std::string BytesOfText(std::string_view utf8);

// The message an engine raises: "morvik: " and the fault's explanation,
// with "error N: " first for the object's own errors.
std::string Message(const char* function, const Fault& fault);

}  // namespace morvik::sql
