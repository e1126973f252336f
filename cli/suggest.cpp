#include "suggest.h"

#include <algorithm>
#include <cstddef>

namespace morvik::cli {
namespace {

// Optimal string alignment distance: insertions, deletions, substitutions
// and swaps of two neighbours each cost 1.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

std::string Bare(const std::string& name) { return name.substr(name.find_first_not_of('-') == std::string::npos ? name.size() : name.find_first_not_of('-')); }

}  // namespace

std::string Closest(const std::string& typed, const std::vector<std::string>& candidates) {
    const std::string bare = Bare(typed);
    if (bare.empty()) return "";
    std::string best;
    std::size_t best_distance = 0;
    std::vector<std::string> extending;
    for (const std::string& c : candidates) {
        const std::string name = Bare(c);
        if (name.size() > bare.size() && name.compare(0, bare.size(), bare) == 0) extending.push_back(c);
        const std::size_t distance = Distance(bare, name);
        if (best.empty() || distance < best_distance) best = c, best_distance = distance;
    }
    // One slip in a short name, two in a longer one.
    const std::size_t allowed = bare.size() <= 4 ? 1 : 2;
    if (!best.empty() && best_distance <= allowed) return best;
    if (extending.size() == 1 && bare.size() >= 2) return extending.front();
    return "";
}

}  // namespace morvik::cli
