#include <morvik/detail/hints.h>

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace morvik::detail {

void AdviseHugePages([[maybe_unused]] void* p, [[maybe_unused]] std::size_t n) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = 2u << 20;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end   = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(kHuge - 1);
    if (begin < end) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace morvik::detail
