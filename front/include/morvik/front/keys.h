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

// The text as a message may show it: valid UTF-8 that prints stays as it is;
// control characters (C0, DEL, C1), the invisible ones that reorder or hide
// text (bidirectional overrides, zero-width characters) and bytes that are not
// UTF-8 are shown as \xNN, a byte each, so that a name or a typed word can
// neither drive the terminal nor break or disguise the message's line.
std::string Printable(std::string_view text);
// A name quoted in a message, Printable: 'in\x1B[2J.txt'. Every front quotes
// file names, column names and typed words with it.
std::string Quoted(std::string_view name);

}  // namespace morvik::front
