// Morvik RC2 fronts — what the user types (keys, lengths, text), read strictly: a mistyped number, key or
// character is refused with the text and the place where it went wrong,
// never read as something else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvik::front {

// --bits: decimal digits with an optional sign and nothing else, 0 to 1024.
// Fails with Exit::Key, quoting the text as typed.
std::int32_t EffectiveBits(std::string_view typed);

// A key typed in hex (--key-hex, MORVIK_KEY_HEX): hex digits only, two per
// byte. Ciphertexts in hex are still read leniently, as the object reads them;
// a key is typed by a person, and a typo must not become a different key.
// Fails with Exit::Key naming the first bad character and its position.
std::string StrictHexKey(std::string_view typed, const std::string& source);

// The key as the tool and the strict entries take it: 1 to 128 bytes, else
// Exit::Key naming `source` (the key is wiped first). The object ignores a key
// of another length and keeps the previous one; a front that has no previous
// key, or whose caller never asked for that rule, refuses instead.
void CheckKeyLength(std::string& key, const std::string& source);
// The effective key length for a strict entry: 0 to 1024, else Exit::Key.
void CheckEffectiveBits(long long bits, const std::string& source);

// UTF-8 text (typed, or a Python str) as the bytes of this system's code page
// (SystemCodePage(): Windows-1252, on Windows the ANSI code page). Malformed
// UTF-8 (overlong forms, surrogates, truncated or stray sequences) and
// characters with no byte there fail with Exit::Overflow, the object's
// error 6, explained; nothing is replaced.
std::string TextBytes(std::string_view utf8, const std::string& option);
// The other way: a plaintext's bytes as the characters the object gives them.
std::string BytesToUtf8(std::string_view bytes);

// "1 byte", "2 bytes", "0 bytes".
std::string Count(std::uint64_t n, const char* singular);

// The text with control characters shown as \xNN, so that a message stays on
// one line.
std::string Printable(std::string_view text);

}  // namespace morvik::front
