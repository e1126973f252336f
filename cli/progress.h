// morvik — the progress line of a long run on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace morvik::cli {

// One line on standard error, redrawn at most ten times a second and always
// narrower than the terminal (its width is asked at every redraw, so a
// resized window is followed): the share done, then as much as fits of the
// time left, the rate, the sizes and a bar.
class Progress {
public:
    Progress(std::string label, std::optional<std::uint64_t> total, bool allowed);
    ~Progress();
    void Advance(std::uint64_t bytes);
    void Clear();

    // The line for a width of `columns`; for the tests of its layout.
    static std::string Line(const std::string& label, std::uint64_t done, std::uint64_t total, double seconds,
                            int columns);

private:
    using Clock = std::chrono::steady_clock;

    std::string       label_;
    std::uint64_t     total_ = 0;
    std::uint64_t     done_ = 0;
    bool              on_ = false;
    bool              shown_ = false;
    Clock::time_point start_, drawn_;
};

// Inputs at least this large get a progress line.
inline constexpr std::uint64_t kProgressThreshold = 64ull << 20;

}  // namespace morvik::cli
