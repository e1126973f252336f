// Overwrite secrets so that they do not linger in freed memory.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace morvik::detail {

// Test hook: when set, sees every span right after it was wiped, while the
// memory is still live. Tests use it to check what gets wiped without reading
// freed memory.
inline void (*wipe_observer)(const void* p, std::size_t n) noexcept = nullptr;

inline void Wipe(void* p, std::size_t n) noexcept {
#if defined(__GNUC__)
    // The empty assembly statement may read the memory, so the compiler
    // cannot drop the stores as dead.
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    // Stores through a volatile pointer cannot be removed as dead stores.
    auto* v = static_cast<volatile unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) v[i] = 0;
#endif
    if (wipe_observer) wipe_observer(p, n);
}

// Wipes the whole buffer of `s`, beyond its size up to its capacity, and
// leaves it empty.
inline void Wipe(std::string& s) noexcept {
    s.resize(s.capacity());  // never reallocates
    Wipe(s.data(), s.size());
    s.clear();
}

// A copy of plaintext, a key or ciphertext that the fronts hand on: wiped
// when it goes.
struct Secret {
    std::string s;
    Secret() = default;
    explicit Secret(std::string v) noexcept : s(std::move(v)) {}
    Secret(const Secret&)            = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { Wipe(s); }
};

}  // namespace morvik::detail
