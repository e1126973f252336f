#include <morvik/detail/output.h>

#include <algorithm>

#include <morvik/detail/hints.h>

namespace morvik::detail {
namespace {

constexpr std::size_t kLarge = 4u << 20;

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
