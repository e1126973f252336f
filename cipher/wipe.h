// Overwrite secrets so that they do not linger in freed memory.
#pragma once

#include <cstddef>
#include <string>

namespace morvik::detail {

// Stores through a volatile pointer cannot be removed as dead stores.
inline void Wipe(void* p, std::size_t n) noexcept {
    auto* v = static_cast<volatile unsigned char*>(p);
    while (n--) *v++ = 0;
}

// Wipes the whole buffer of `s`, beyond its size up to its capacity, and
// leaves it empty.
inline void Wipe(std::string& s) noexcept {
    s.resize(s.capacity());  // never reallocates
    Wipe(s.data(), s.size());
    s.clear();
}

}  // namespace morvik::detail
