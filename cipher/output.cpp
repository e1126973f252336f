#include "cipher/output.h"

#include <algorithm>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace morvik::detail {
namespace {

constexpr std::size_t kLarge = 4u << 20;

// Only a hint, made before the buffer is first written; it covers the whole
// huge pages inside the buffer and nothing around it. Elsewhere, or if the
// system declines, the buffer simply stays on small pages.
void AdviseHugePages([[maybe_unused]] void* p, [[maybe_unused]] std::size_t n) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = 2u << 20;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end   = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kHuge - 1);
    if (begin < end) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace

std::string Reserved(std::size_t n) {
    std::string s;
    s.reserve(n);
    if (n >= kLarge) AdviseHugePages(s.data(), s.capacity());
    return s;
}

void Reserve(std::string& s, std::size_t n) {
    if (s.capacity() >= n) return;
    // Geometric growth for callers that append again and again.
    std::string fresh = Reserved(s.empty() ? n : std::max(n, 2 * s.capacity()));
    fresh.append(s);
    s.swap(fresh);
}

}  // namespace morvik::detail
