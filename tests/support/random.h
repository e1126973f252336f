// Random bytes for the tests, from a generator the test seeds itself, so a
// failure repeats.
#pragma once

#include <cstddef>
#include <string>

namespace morvik::test {

// Each byte is the low byte of one draw.
template <class Rng> std::string RandomBytes(Rng& rng, std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

// A quarter of the bytes zero, so that runs of zero bytes (which decryption
// removes at the end) turn up everywhere.
template <class Rng> std::string RandomBytesWithZeros(Rng& rng, std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng() % 4 == 0 ? 0 : rng());
    return s;
}

}  // namespace morvik::test
