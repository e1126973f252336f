// Hints to the memory system: they change how fast large outputs fill, never
// what they hold. The platform calls behind them stay in base/hints.cpp, the
// only file of the core that includes a system header.
#pragma once

#include <cstddef>

namespace morvik::detail {

// Asks for transparent huge pages over the whole huge pages inside [p, p + n),
// before the buffer is first written. Where the system has no such thing, or
// declines, the buffer simply stays on small pages.
void AdviseHugePages(void* p, std::size_t n) noexcept;

// Copies `n` bytes to `to` with stores that go around the caches: for outputs
// far larger than the caches that are not read back soon, whose lines are
// then written without first being read in. Such stores are ordered loosely
// with the others, so a run of these copies ends with FenceCopies() before
// the output is handed on. Where the processor has no such stores these are
// memcpy and nothing.
void CopyAroundCaches(void* to, const void* from, std::size_t n) noexcept;
void FenceCopies() noexcept;

// Asks for the cache line at `p` ahead of a write to it.
inline void PrefetchForWrite([[maybe_unused]] const void* p) noexcept {
#if defined(__GNUC__)
    __builtin_prefetch(p, 1);
#endif
}

}  // namespace morvik::detail
