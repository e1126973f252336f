// BlindAscii::Asc2Full on any text, against a decoder written straight from
// the format's rules in plain integer arithmetic, against the group-level
// streaming helper, and through the encoder where a text is canonical.
// Input: one byte that places the streaming split, then the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <morvik/blind_ascii.h>
#include <morvik/error.h>
#include "fuzz/input.h"

namespace {

using morvik::BlindAscii;
using morvik::fuzz::Check;

// -1 outside the alphabet 0-9 a-z A-Z + - / =.
int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 36;
    switch (c) {
        case '+': return 62;
        case '-': return 63;
        case '/': return 64;
        case '=': return 65;
        default: return -1;
    }
}

struct Decoded {
    int error = 0;  // 0, or the runtime error number
    std::string bytes;
};

// The tail mark is the last character; groups of four from the left, each
// giving three bytes, the final one (1 to 4 characters) as many as the tail
// says (0: three). A place value beyond a signed 32-bit number overflows; a
// byte above 255 is an invalid argument. The first failing group decides.
Decoded Reference(std::string_view text) {
    Decoded d;
    if (text.empty()) return d;
    const std::int64_t tail = std::max(Digit(text.back()), 0);
    std::string_view body = text.substr(0, text.size() - 1);
    while (!body.empty()) {
        const std::string_view group = body.substr(0, 4);
        body.remove_prefix(group.size());
        std::int64_t n = 0;
        for (const char c : group) n = n * 66 + std::max(Digit(c), 0);
        const std::int64_t count = !body.empty() || tail == 0 ? 3 : tail;
        for (std::int64_t v = count; v >= 1; --v) {
            std::int64_t place = 1;
            for (std::int64_t i = 1; i < v; ++i)
                if ((place *= 256) > INT32_MAX) return {6, {}};
            if (n / place > 255) return {5, {}};
            d.bytes += static_cast<char>(n / place);
            n %= place;
        }
    }
    return d;
}

Decoded Library(std::string_view text) {
    try {
        return {0, BlindAscii::Asc2Full(text)};
    } catch (const morvik::Error& e) {
        Check(e.code() == 5 || e.code() == 6);
        return {e.code(), {}};
    }
}

// The text Full2Asc would write for its decoding: the empty text, or whole
// groups of alphabet characters and a tail mark of 0, 1 or 2.
bool Canonical(std::string_view text) {
    if (text.empty()) return true;
    if (text.size() % 4 != 1 || text.size() < 5) return false;
    for (const char c : text)
        if (Digit(c) < 0) return false;
    return Digit(text.back()) <= 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morvik::fuzz::Input in(data, size);
    const std::uint8_t split = in.Byte();
    const std::string_view text = in.Rest();

    const Decoded got = Library(text);
    const Decoded want = Reference(text);
    Check(got.error == want.error && got.bytes == want.bytes);
    if (got.error == 0) {
        Check(BlindAscii::Asc2Full(BlindAscii::Full2Asc(got.bytes)) == got.bytes);
        if (Canonical(text)) Check(BlindAscii::Full2Asc(got.bytes) == text);
    }

    // Whole groups decoded on their own, then the rest with the tail mark,
    // as a stream reader does; a failing helper leaves its buffer as it was.
    if (text.size() < 2) return 0;
    const std::size_t groups = (text.size() - 2) / 4;  // groups before the final one
    const std::size_t cut = 4 * (split % (groups + 1));
    std::string streamed = "kept";
    try {
        BlindAscii::AppendGroupsDecoded(text.substr(0, cut), streamed);
    } catch (const morvik::Error& e) {
        Check(e.code() == 5 && got.error == 5 && streamed == "kept");
        return 0;
    }
    const Decoded rest = Library(text.substr(cut));
    Check(rest.error == got.error);
    if (rest.error == 0) Check(streamed + rest.bytes == "kept" + got.bytes);
    return 0;
}
