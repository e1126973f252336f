// morvik — what the user types, read strictly: a mistyped number, key or
// character is refused with the text and the place where it went wrong,
// never read as something else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvik::cli {

// --bits: decimal digits with an optional sign and nothing else, 0 to 1024.
// Fails with Exit::Key, quoting the text as typed.
std::int32_t EffectiveBits(std::string_view typed);

// A key typed in hex (--key-hex, MORVIK_KEY_HEX): hex digits only, two per
// byte. Ciphertexts in hex are still read leniently, as the object reads them;
// a key is typed by a person, and a typo must not become a different key.
// Fails with Exit::Key naming the first bad character and its position.
std::string StrictHexKey(std::string_view typed, const std::string& source);

// UTF-8 text from the command line or the terminal, as Windows-1252 bytes (the
// Western Windows client's string). Malformed UTF-8 (overlong forms,
// surrogates, truncated or stray sequences) and characters with no byte there
// fail with Exit::Overflow, the object's error 6; nothing is replaced.
std::string TextArgument(std::string_view utf8, const std::string& option);

// "1 byte", "2 bytes", "0 bytes".
std::string Count(std::uint64_t n, const char* singular);

// The text with control characters shown as \xNN, so that a message stays on
// one line.
std::string Printable(std::string_view text);

}  // namespace morvik::cli
