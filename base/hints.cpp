#include <morvik/detail/hints.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
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

void CopyAroundCaches(void* to, const void* from, std::size_t n) noexcept {
#if defined(__SSE2__)
    auto*       d = static_cast<unsigned char*>(to);
    const auto* s = static_cast<const unsigned char*>(from);
    // The streaming stores need 16-byte aligned destinations; the ragged ends
    // go through the caches.
    const std::size_t head = std::min(n, (16 - reinterpret_cast<std::uintptr_t>(d) % 16) % 16);
    std::memcpy(d, s, head);
    std::size_t i = head;
    for (; n - i >= 64; i += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 32));
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + i), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + i + 16), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + i + 32), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + i + 48), e);
    }
    for (; n - i >= 16; i += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(d + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
    std::memcpy(d + i, s + i, n - i);
#else
    std::memcpy(to, from, n);
#endif
}

void FenceCopies() noexcept {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace morvik::detail
