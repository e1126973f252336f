// Morvik RC2 — the hexadecimal text form of byte strings.
//
// Writing: two uppercase digits per byte, nothing else ("000FA0FF").
// Reading is lenient and never fails, because stored texts rely on it: the text
// is cut into pairs from the left (an odd length leaves a final single
// character); in each group spaces, tabs and line feeds are skipped, digits
// 0-9 A-F a-f are read, and reading stops at the first other character. Each
// group gives one byte: the value of its digits read so far, 0 if none.
// So "ABC" reads as AB 0C, "1z" as 01, "z1" as 00, and n characters always
// give (n + 1) / 2 bytes. Bytes of 0x80 and above are simply not digits.
//
// WriteStream and ReadStream do the same over a text that arrives in pieces:
// any cutting of the input gives exactly Write or Read of the whole. ReadStream
// holds back at most one character, the first of a pair whose second has not
// come yet.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <morvik/sink.h>

namespace morvik::hex {

std::string Write(std::string_view bytes);
std::string Read(std::string_view text);

// The same, appending to `out` (which callers may have reserved).
void WriteTo(std::string_view bytes, std::string& out);
void ReadTo(std::string_view text, std::string& out);

class WriteStream final {
public:
    void Update(std::string_view bytes, Sink& out);
    void Finish(Sink&) noexcept {}

    void Update(std::string_view bytes, std::string& out) { AppendSink sink(out); Update(bytes, sink); }
    void Finish(std::string&) noexcept {}
};

// Finish reads a last single character as a group of its own; the stream then
// starts a new text, as it does after an exception that `out` throws.
class ReadStream final {
public:
    void Update(std::string_view text, Sink& out);
    void Finish(Sink& out);

    void Update(std::string_view text, std::string& out) { AppendSink sink(out); Update(text, sink); }
    void Finish(std::string& out) { AppendSink sink(out); Finish(sink); }

private:
    char odd_     = 0;
    bool has_odd_ = false;
};

}  // namespace morvik::hex
