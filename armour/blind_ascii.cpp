#include <morvik/blind_ascii.h>

#include <algorithm>
#include <array>
#include <cstring>

#include <morvik/error.h>
#include <morvik/detail/output.h>

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
};

namespace {

constexpr auto kDigits = BlindAsciiTables::Digits();
constexpr auto kPairs  = BlindAsciiTables::Pairs();

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

}  // namespace

int BlindAscii::DigitValue(char c) noexcept { return kDigits[static_cast<unsigned char>(c)]; }

void BlindAscii::AppendGroups(std::string_view bytes, std::string& out) {
    constexpr std::size_t kGroups = detail::kPiece / 4;  // groups per piece of output
    std::size_t groups = bytes.size() / 3;
    detail::Reserve(out, out.size() + 4 * groups);
    char piece[4 * kGroups];
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    while (groups != 0) {
        const std::size_t count = std::min(groups, kGroups);
        char* o = piece;
        for (std::size_t g = 0; g < count; ++g, p += 3, o += 4)
            PutDigits(static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2], o);
        out.append(piece, 4 * count);
        groups -= count;
    }
}

void BlindAscii::AppendGroupsDecoded(std::string_view text, std::string& out) {
    constexpr std::size_t kGroups = detail::kPiece / 3;
    std::size_t groups = text.size() / 4;
    const std::size_t at = out.size();
    detail::Reserve(out, at + 3 * groups);
    char piece[3 * kGroups];
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    while (groups != 0) {
        const std::size_t count = std::min(groups, kGroups);
        char* o = piece;
        for (std::size_t g = 0; g < count; ++g, p += 4, o += 3) {
            const std::uint32_t n = GroupValue(p);
            if (n >= kGroupLimit) {
                out.resize(at);
                throw Error(ErrorNumber::InvalidArgument);
            }
            o[0] = static_cast<char>(n >> 16);
            o[1] = static_cast<char>(n >> 8);
            o[2] = static_cast<char>(n);
        }
        out.append(piece, 3 * count);
        groups -= count;
    }
}

std::string BlindAscii::Full2Asc(std::string_view bytes) {
    if (bytes.empty()) return {};
    const std::size_t whole = bytes.size() / 3 * 3, rest = bytes.size() - whole;
    std::string out = detail::Reserved(4 * ((bytes.size() + 2) / 3) + 1);
    AppendGroups(bytes.substr(0, whole), out);
    if (rest != 0) {
        std::uint32_t n = 0;
        for (unsigned char b : bytes.substr(whole)) n = n * 256 + b;
        char digits[4];
        PutDigits(n, digits);
        out.append(digits, 4);
    }
    out += Digit2Asc(static_cast<std::int32_t>(rest));
    static_assert(Num2Asc(0).view() == "0" && Num2Asc(65).view() == "=" && Num2Asc(66).view() == "10");
    static_assert(Num2Asc(6382179).view() == "md9J" && Num2Asc(16777215).view() == "Wnyf");
    return out;
}

std::string BlindAscii::Asc2Full(std::string_view text) {
    if (text.empty()) return {};
    const std::int32_t tail = Asc2Digit(text.substr(text.size() - 1));
    const std::string_view body = text.substr(0, text.size() - 1);
    if (body.empty()) return {};

    // Every group but the last gives three bytes whatever the tail says.
    const std::size_t last = (body.size() - 1) / 4 * 4;
    std::string out = detail::Reserved(last / 4 * 3 + 4);
    AppendGroupsDecoded(body.substr(0, last), out);

    std::uint32_t n = Asc2Num(body.substr(last));
    const std::int32_t count = tail == 0 ? 3 : tail;
    // 256^(count-1) must fit a signed 32-bit place value.
    if (count > 4) throw Error(ErrorNumber::Overflow);
    for (std::int32_t v = count; v >= 1; --v) {
        const std::uint32_t place = 1u << (8 * (v - 1));
        if (n / place > 255) throw Error(ErrorNumber::InvalidArgument);
        out += static_cast<char>(n / place);
        n %= place;
    }
    return out;
}

}  // namespace morvik
