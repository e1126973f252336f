#include <morvik/hex.h>

#include <algorithm>

#include <array>
#include <cstdint>
#include <cstring>

#include <morvik/detail/output.h>
#include <morvik/sink.h>

namespace morvik::hex {
namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";

// Two output characters per byte value, in one table so writing is a copy.
constexpr std::array<char, 512> kPairs = [] {
    std::array<char, 512> t{};
    for (int v = 0; v < 256; ++v) {
        t[2 * v]     = kUpperDigits[v >> 4];
        t[2 * v + 1] = kUpperDigits[v & 15];
    }
    return t;
}();

constexpr std::int8_t kNotDigit = -1;
constexpr std::int8_t kSkipped  = -2;

constexpr std::array<std::int8_t, 256> kDigit = [] {
    std::array<std::int8_t, 256> t{};
    for (auto& d : t) d = kNotDigit;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<std::int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<std::int8_t>(c - 'A' + 10);
    t[' '] = t['\t'] = t['\n'] = kSkipped;
    return t;
}();

// Every pair of characters, the first in the low byte of the index, to the
// byte it reads as, or -1 unless both are digits: the usual pair costs one
// lookup, the rest go to ReadGroup.
constexpr std::array<std::int16_t, 65536> kPairValue = [] {
    std::array<std::int16_t, 65536> t{};
    for (int i = 0; i < 65536; ++i) {
        const int hi = kDigit[i & 0xFF], lo = kDigit[i >> 8];
        t[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(hi >= 0 && lo >= 0 ? hi * 16 + lo : -1);
    }
    return t;
}();

static_assert(kPairValue['A' | 'b' << 8] == 0xAB && kPairValue['0' | ' ' << 8] == -1 && kPairValue['f' | 'F' << 8] == 0xFF);
static_assert(kDigit['f'] == 15 && kDigit['F'] == 15 && kDigit['g'] == kNotDigit && kDigit['\r'] == kNotDigit);

// One group of one or two characters: blanks are skipped, the first other
// non-digit ends the number. Kept out of line as the rare path, which also
// keeps the compiler from turning the pair loop into emulated gathers.
[[gnu::noinline, gnu::cold]] std::uint8_t ReadGroup(const unsigned char* p, std::size_t n) noexcept {
    unsigned value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::int8_t d = kDigit[p[i]];
        if (d == kSkipped) continue;
        if (d == kNotDigit) break;
        value = value * 16 + static_cast<unsigned>(d);
    }
    return static_cast<std::uint8_t>(value);
}

void WritePairs(std::string_view bytes, Sink& out) {
    alignas(64) char piece[detail::kPiece];
    for (std::size_t at = 0; at < bytes.size(); at += detail::kPiece / 2) {
        const std::string_view part = bytes.substr(at, detail::kPiece / 2);
        char* o = piece;
        for (unsigned char b : part) {
            std::memcpy(o, &kPairs[2u * b], 2);
            o += 2;
        }
        out.Write(std::string_view(piece, 2 * part.size()));
    }
}

void ReadPairs(const unsigned char* p, std::size_t pairs, Sink& out) {
    alignas(64) char piece[detail::kPiece];
    while (pairs != 0) {
        const std::size_t count = std::min(pairs, detail::kPiece);
        char* o = piece;
#pragma GCC unroll 8
        for (std::size_t i = 0; i < count; ++i, p += 2) {
            const std::int16_t v = kPairValue[p[0] | p[1] << 8];
            *o++ = static_cast<char>(v >= 0 ? v : ReadGroup(p, 2));
        }
        out.Write(std::string_view(piece, count));
        pairs -= count;
    }
}

}  // namespace

void WriteStream::Update(std::string_view bytes, Sink& out) {
    WritePairs(bytes, out);
}

// Pairs are read from the start of the whole text, so a piece of odd length
// keeps its last character for the next piece.
void ReadStream::Update(std::string_view text, Sink& out) {
    if (text.empty()) return;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    if (has_odd_) {
        const unsigned char pair[2] = {static_cast<unsigned char>(odd_), p[0]};
        has_odd_ = false;  // what `out` throws ends the text
        ReadPairs(pair, 1, out);
        ++p, --n;
    }
    ReadPairs(p, n / 2, out);
    if (n % 2 != 0) odd_ = static_cast<char>(p[n - 1]), has_odd_ = true;
}

void ReadStream::Finish(Sink& out) {
    if (!has_odd_) return;
    has_odd_ = false;
    // A single last digit is worth its own value.
    const char byte = static_cast<char>(ReadGroup(reinterpret_cast<const unsigned char*>(&odd_), 1));
    out.Write(std::string_view(&byte, 1));
}

void WriteTo(std::string_view bytes, std::string& out) {
    detail::Reserve(out, out.size() + 2 * bytes.size());
    WriteStream stream;
    stream.Update(bytes, out);
}

void ReadTo(std::string_view text, std::string& out) {
    detail::Reserve(out, out.size() + (text.size() + 1) / 2);
    ReadStream stream;
    stream.Update(text, out);
    stream.Finish(out);
}

std::string Write(std::string_view bytes) {
    std::string out;
    WriteTo(bytes, out);
    return out;
}

std::string Read(std::string_view text) {
    std::string out;
    ReadTo(text, out);
    return out;
}

}  // namespace morvik::hex
