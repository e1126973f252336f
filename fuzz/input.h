// What the fuzz targets share: a reader that takes choices off the front of
// the input, so that the fuzzer steers them like any other byte, and the one
// way a target reports a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <morvik/kernel.h>
#include <morvik/rc2.h>

namespace morvik::fuzz {

inline void Check(bool ok) {
    if (!ok) std::abort();
}

// Reads past the end give zeros and empty strings, so every input is usable.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

    std::uint8_t Byte() {
        if (rest_.empty()) return 0;
        const auto b = static_cast<std::uint8_t>(rest_[0]);
        rest_.remove_prefix(1);
        return b;
    }
    std::uint16_t Word() {
        const std::uint8_t low = Byte();  // two statements: the order of operands is unspecified
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    std::string_view Bytes(std::size_t n) {
        const std::string_view taken = rest_.substr(0, n);
        rest_.remove_prefix(taken.size());
        return taken;
    }
    std::string_view Rest() { return Bytes(rest_.size()); }

private:
    std::string_view rest_;
};

inline std::string WithoutTrailingZeros(std::string s) {
    s.erase(s.find_last_not_of('\0') + 1);
    return s;
}

// What the kernels read, rebuilt from the object's expanded key.
inline detail::KeySchedule Schedule(const RC2& rc2) {
    detail::KeySchedule ks{};
    const auto& L = rc2.ExpandedKey();
    for (int i = 0; i < 64; ++i) ks.K[i] = static_cast<std::uint16_t>(L[2 * i] | L[2 * i + 1] << 8);
    return ks;
}

}  // namespace morvik::fuzz
