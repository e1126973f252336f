// hex::Read on any text against a plain reading of its rules, and the ways
// reading and writing must agree. Reading never fails: any exception escaping
// is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <morvik/hex.h>
#include "fuzz/input.h"

namespace {

using morvik::fuzz::Check;

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Pairs from the left; blanks skipped, the first other non-digit ends a pair.
std::string Reference(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += 2) {
        int value = 0;
        for (const char c : text.substr(at, 2)) {
            if (c == ' ' || c == '\t' || c == '\n') continue;
            if (Digit(c) < 0) break;
            value = value * 16 + Digit(c);
        }
        out += static_cast<char>(value);
    }
    return out;
}

bool AllDigits(std::string_view text) {
    for (const char c : text)
        if (Digit(c) < 0) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string bytes = morvik::hex::Read(text);
    Check(bytes.size() == (text.size() + 1) / 2);
    Check(bytes == Reference(text));

    // The appending forms keep what the buffer held.
    std::string appended = "kept";
    morvik::hex::ReadTo(text, appended);
    Check(appended == "kept" + bytes);
    std::string written = "kept";
    morvik::hex::WriteTo(bytes, written);
    Check(written == "kept" + morvik::hex::Write(bytes));

    // Writing gives the canonical text, which reads back to the same bytes.
    const std::string canonical = morvik::hex::Write(bytes);
    Check(canonical.size() == 2 * bytes.size() && morvik::hex::Read(canonical) == bytes);
    if (text.size() % 2 == 0 && AllDigits(text)) {
        std::string upper(text);
        for (char& c : upper)
            if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        Check(canonical == upper);
    }
    return 0;
}
