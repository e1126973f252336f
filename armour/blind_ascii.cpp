#include <morvik/blind_ascii.h>

#include <algorithm>
#include <array>
#include <cstring>

#include <morvik/error.h>
#include <morvik/detail/output.h>
#include <morvik/sink.h>

namespace morvik {

constexpr std::int16_t BlindAscii::Asc2Digit(std::string_view s) noexcept {
    if (s.empty()) return 0;
    const int c = static_cast<unsigned char>(s.front());
    if (c >= '0' && c <= '9') return static_cast<std::int16_t>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<std::int16_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z') return static_cast<std::int16_t>(c - 'A' + 36);
    switch (c) {
        case '+': return 62;
        case '-': return 63;
        case '/': return 64;
        case '=': return 65;
        default:  return 0;
    }
}

namespace {
constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-/=";
static_assert(sizeof kAlphabet == 66 + 1);
}  // namespace

constexpr std::string_view BlindAscii::Digit2Asc(std::int32_t value) noexcept {
    if (value < 0 || value > 65) return {};
    return std::string_view(kAlphabet + value, 1);
}

// Whole numbers below 2^25 only ever reach here, where integer division gives
// the digits that floor division in double precision would.
constexpr BlindAscii::Numeral BlindAscii::Num2Asc(std::uint32_t x) noexcept {
    std::uint32_t d = 1;
    while (x / d != 0 && d <= 0xFFFFFFFFu / 66) d *= 66;
    if (x / d == 0) d /= 66;
    Numeral numeral;
    if (d == 0) d = 1;  // x == 0: one digit
    for (; d >= 1; d /= 66) {
        numeral.digits[numeral.size++] = Digit2Asc(static_cast<std::int32_t>(x / d)).front();
        x %= d;
    }
    return numeral;
}

constexpr std::uint32_t BlindAscii::Asc2Num(std::string_view s) noexcept {
    std::uint32_t value = 0;
    for (char c : s) value = value * 66 + static_cast<std::uint32_t>(Asc2Digit(std::string_view(&c, 1)));
    return value;
}

// Tables for the linear-time codec, built from the operations above so that
// they are the alphabet and nothing else.
struct BlindAsciiTables {
    static constexpr std::array<std::int8_t, 256> Digits() {
        std::array<std::int8_t, 256> t{};
        for (int c = 0; c < 256; ++c) {
            const char ch = static_cast<char>(c);
            t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(BlindAscii::Asc2Digit(std::string_view(&ch, 1)));
        }
        return t;
    }
    // Every value below 66^2 as two zero-filled digits.
    static constexpr std::array<char, 2 * 66 * 66> Pairs() {
        std::array<char, 2 * 66 * 66> t{};
        for (std::uint32_t v = 0; v < 66 * 66; ++v) {
            const auto numeral = BlindAscii::Num2Asc(v);
            const std::string_view s = numeral.view();
            t[2 * v]     = s.size() == 2 ? s[0] : '0';
            t[2 * v + 1] = s.back();
        }
        return t;
    }
    static constexpr bool DistinctDigits() {
        std::array<bool, 256> seen{};
        for (std::int32_t v = 0; v < 66; ++v) {
            const std::string_view s = BlindAscii::Digit2Asc(v);
            const auto c = static_cast<unsigned char>(s[0]);
            if (s.size() != 1 || seen[c] || BlindAscii::Asc2Digit(s) != v) return false;
            seen[c] = true;
        }
        return BlindAscii::Digit2Asc(-1).empty() && BlindAscii::Digit2Asc(66).empty();
    }
    // The reference reading of a numeral, which the decoder's table lookups follow.
    static constexpr bool NumeralsRead() {
        return BlindAscii::Asc2Num("md9J") == 6382179 && BlindAscii::Asc2Num("Wnyf") == 16777215 &&
               BlindAscii::Asc2Num("1v") == 97 && BlindAscii::Asc2Num(" =") == 65;
    }
};

namespace {

constexpr auto kDigits = BlindAsciiTables::Digits();
constexpr auto kPairs  = BlindAsciiTables::Pairs();

static_assert(BlindAsciiTables::NumeralsRead());
static_assert(BlindAsciiTables::DistinctDigits(), "66 distinct digits, each reading back as its value");
static_assert(kPairs[0] == '0' && kPairs[1] == '0' && kPairs[2 * 65 + 1] == '=' && kPairs[2 * 66] == '1');
static_assert(kDigits[' '] == 0 && kDigits['='] == 65 && kDigits[0xE9] == 0);

constexpr std::uint32_t kGroupLimit = 1u << 24;  // a value that fits three bytes

inline void PutDigits(std::uint32_t n, char* o) noexcept {
    const std::uint32_t hi = n / (66 * 66), lo = n % (66 * 66);
    std::memcpy(o, &kPairs[2 * hi], 2);
    std::memcpy(o + 2, &kPairs[2 * lo], 2);
}

inline std::uint32_t GroupValue(const unsigned char* p) noexcept {
    return ((static_cast<std::uint32_t>(kDigits[p[0]]) * 66 + static_cast<std::uint32_t>(kDigits[p[1]])) * 66 +
            static_cast<std::uint32_t>(kDigits[p[2]])) * 66 + static_cast<std::uint32_t>(kDigits[p[3]]);
}

// Groups of four characters per piece of output, and three bytes per piece.
constexpr std::size_t kEncodePiece = detail::kPiece / 4;
constexpr std::size_t kDecodePiece = detail::kPiece / 3;

void EncodeGroups(const unsigned char* p, std::size_t groups, Sink& out) {
    alignas(64) char piece[4 * kEncodePiece];
    while (groups != 0) {
        const std::size_t count = std::min(groups, kEncodePiece);
        char* o = piece;
        for (std::size_t g = 0; g < count; ++g, p += 3, o += 4)
            PutDigits(static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2], o);
        out.Write(std::string_view(piece, 4 * count));
        groups -= count;
    }
}

// The tail mark: the length of the text mod 3, from the bytes of its final group.
constexpr char TailMark(std::size_t final_bytes) noexcept { return kAlphabet[final_bytes % 3]; }

[[noreturn]] void GroupTooLarge(std::uint64_t group, const char* chars, std::size_t size, std::uint32_t bytes,
                                const char* mark) {
    ErrorPosition at;
    at.kind      = ErrorPosition::Kind::Group;
    at.group     = group;
    at.character = 4 * (group - 1) + 1;
    at.size      = static_cast<std::uint32_t>(size);
    std::memcpy(at.chars, chars, size);
    at.bytes = bytes;
    if (mark) {
        at.final_group = true;
        at.mark        = *mark;
        at.value       = kDigits[static_cast<unsigned char>(*mark)];
    }
    throw Error(ErrorNumber::InvalidArgument, at);
}

// Groups that are not the final one, each three bytes whatever the tail mark
// says; `before` groups came earlier in the text.
void DecodeGroups(const unsigned char* p, std::size_t groups, std::uint64_t before, Sink& out) {
    alignas(64) char piece[3 * kDecodePiece];
    while (groups != 0) {
        const std::size_t count = std::min(groups, kDecodePiece);
        char* o = piece;
        for (std::size_t g = 0; g < count; ++g, p += 4, o += 3) {
            const std::uint32_t n = GroupValue(p);
            if (n >= kGroupLimit) GroupTooLarge(before + g + 1, reinterpret_cast<const char*>(p), 4, 3, nullptr);
            o[0] = static_cast<char>(n >> 16);
            o[1] = static_cast<char>(n >> 8);
            o[2] = static_cast<char>(n);
        }
        out.Write(std::string_view(piece, 3 * count));
        before += count;
        groups -= count;
    }
}

// The final group (1 to 4 characters) under the tail mark, the last character
// of the text, which is character `mark_at`.
void DecodeFinal(std::string_view group, char mark, std::uint64_t before, std::uint64_t mark_at, Sink& out) {
    const std::int32_t tail  = kDigits[static_cast<unsigned char>(mark)];
    const std::int32_t count = tail == 0 ? 3 : tail;
    // 256^(count-1) must fit a signed 32-bit place value.
    if (count > 4) {
        ErrorPosition at;
        at.kind      = ErrorPosition::Kind::TailMark;
        at.character = mark_at;
        at.mark      = mark;
        at.value     = tail;
        throw Error(ErrorNumber::Overflow, at);
    }
    std::uint32_t n = 0;  // the group's value, as Asc2Num gives it, through the table
    for (char c : group) n = n * 66 + static_cast<std::uint32_t>(kDigits[static_cast<unsigned char>(c)]);
    char bytes[4];
    for (std::int32_t v = count; v >= 1; --v) {
        // Shifts, not a division by a place value the compiler cannot see.
        const unsigned shift = 8u * static_cast<unsigned>(v - 1);
        if ((n >> shift) > 255)
            GroupTooLarge(before + 1, group.data(), group.size(), static_cast<std::uint32_t>(count), &mark);
        bytes[count - v] = static_cast<char>(n >> shift);
        n &= (1u << shift) - 1;
    }
    out.Write(std::string_view(bytes, static_cast<std::size_t>(count)));
}

}  // namespace

int BlindAscii::DigitValue(char c) noexcept { return kDigits[static_cast<unsigned char>(c)]; }

void BlindAscii::AppendGroups(std::string_view bytes, std::string& out) {
    detail::Reserve(out, out.size() + bytes.size() / 3 * 4);
    AppendSink sink(out);
    EncodeGroups(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() / 3, sink);
}

void BlindAscii::AppendGroupsDecoded(std::string_view text, std::string& out) {
    const std::size_t at = out.size();
    detail::Reserve(out, at + text.size() / 4 * 3);
    AppendSink sink(out);
    try {
        DecodeGroups(reinterpret_cast<const unsigned char*>(text.data()), text.size() / 4, 0, sink);
    } catch (const Error&) {
        out.resize(at);
        throw;
    }
}

void BlindAscii::AppendDecoded(std::string_view text, std::string& out) {
    // A text of one character is a tail mark alone and gives "". Otherwise
    // the last 2 to 5 characters are the final group and the tail mark, as
    // the stream finds them.
    if (text.size() < 2) return;
    const std::size_t whole = (text.size() - 2) / 4;
    const std::size_t at    = out.size();
    detail::Reserve(out, at + whole * 3 + 4);
    AppendSink sink(out);
    try {
        DecodeGroups(reinterpret_cast<const unsigned char*>(text.data()), whole, 0, sink);
        const std::string_view rest = text.substr(4 * whole);
        DecodeFinal(rest.substr(0, rest.size() - 1), rest.back(), whole, text.size(), sink);
    } catch (const Error&) {
        out.resize(at);
        throw;
    }
}

// ---- Streams --------------------------------------------------------------

void AscEncodeStream::Update(std::string_view bytes, Sink& out) {
    // The final group (1 to 3 bytes) is kept back: only it comes before the
    // tail mark.
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    if (held_ + n <= 3) {
        std::memcpy(last_ + held_, p, n);
        held_ += n;
        return;
    }
    const std::size_t held = held_;
    held_ = 0;  // what `out` throws ends the text
    if (held != 0) {
        const std::size_t take = 3 - held;
        std::memcpy(last_ + held, p, take);
        p += take, n -= take;
        EncodeGroups(last_, 1, out);
    }
    const std::size_t keep = n % 3 == 0 ? 3 : n % 3;
    EncodeGroups(p, (n - keep) / 3, out);
    std::memcpy(last_, p + n - keep, keep);
    held_ = keep;
}

void AscEncodeStream::Finish(Sink& out) {
    if (held_ == 0) return;  // "" gives ""
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < held_; ++i) n = n * 256 + last_[i];
    char digits[5];
    PutDigits(n, digits);
    digits[4] = TailMark(held_);
    held_ = 0;
    out.Write(std::string_view(digits, 5));
}

void AscDecodeStream::Update(std::string_view text, Sink& out) {
    if (held_ + text.size() < 6) {
        std::memcpy(pending_ + held_, text.data(), text.size());
        held_ += text.size();
        return;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    // Every group but those of the last 2 to 5 characters is decoded now.
    const std::uint64_t total = groups_ + (held_ + n - 2) / 4;
    try {
        if (held_ != 0) {
            // The held characters and the start of this piece, as whole groups
            // where they make some.
            unsigned char head[8];
            const std::size_t take = std::min(n, 8 - held_);
            std::memcpy(head, pending_, held_);
            std::memcpy(head + held_, p, take);
            p += take, n -= take;
            const std::size_t have  = held_ + take;
            const std::size_t whole = static_cast<std::size_t>(std::min<std::uint64_t>(have / 4, total - groups_));
            DecodeGroups(head, whole, groups_, out);
            groups_ += whole;
            held_ = have - 4 * whole;
            if (held_ != 0) {  // then the rest of the piece is short
                std::memcpy(pending_, head + 4 * whole, held_);
                std::memcpy(pending_ + held_, p, n);
                held_ += n;
                return;
            }
        }
        const std::size_t whole = static_cast<std::size_t>(total - groups_);
        DecodeGroups(p, whole, groups_, out);
        groups_ = total;
        held_   = n - 4 * whole;
        std::memcpy(pending_, p + 4 * whole, held_);
    } catch (...) {
        held_ = 0, groups_ = 0;
        throw;
    }
}

void AscDecodeStream::Finish(Sink& out) {
    const std::size_t held = held_;
    const std::uint64_t before = groups_;
    held_ = 0, groups_ = 0;
    // A text of one character is a tail mark alone and gives "".
    if (held < 2) return;
    DecodeFinal(std::string_view(pending_, held - 1), pending_[held - 1], before, 4 * before + held, out);
}

// ---- The whole text at once -----------------------------------------------

std::string BlindAscii::Full2Asc(std::string_view bytes) {
    if (bytes.empty()) return {};
    std::string out = detail::Reserved(4 * ((bytes.size() + 2) / 3) + 1);
    AscEncodeStream stream;
    stream.Update(bytes, out);
    stream.Finish(out);
    static_assert(Num2Asc(0).view() == "0" && Num2Asc(65).view() == "=" && Num2Asc(66).view() == "10");
    static_assert(Num2Asc(6382179).view() == "md9J" && Num2Asc(16777215).view() == "Wnyf");
    static_assert(TailMark(3) == Digit2Asc(0).front() && TailMark(1) == Digit2Asc(1).front() &&
                  TailMark(2) == Digit2Asc(2).front());
    return out;
}

std::string BlindAscii::Asc2Full(std::string_view text) {
    if (text.empty()) return {};
    // Four bytes at most from the final group, under a tail mark of 4.
    std::string out = detail::Reserved((text.size() - 1) / 4 * 3 + 4);
    AppendDecoded(text, out);
    return out;
}

}  // namespace morvik
