#include "progress.h"

#include <algorithm>
#include <cstdio>

#include "platform.h"

namespace morvik::cli {
namespace {

constexpr auto kRedraw = std::chrono::milliseconds(100);

std::string Format(const char* format, double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string Rate(double bytes_per_second) {
    const double mib = bytes_per_second / (1 << 20);
    if (mib >= 1024) return Format("%.1f GiB/s", mib / 1024);
    if (mib >= 10) return Format("%.0f MiB/s", mib);
    if (mib >= 1) return Format("%.1f MiB/s", mib);
    return Format("%.0f KiB/s", bytes_per_second / 1024);
}

std::string Duration(double seconds) {
    const auto s = static_cast<unsigned long long>(std::min(seconds, 359999.0) + 0.5);
    char buf[32];
    if (s >= 3600) std::snprintf(buf, sizeof buf, "%llu:%02llu:%02llu", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%llu:%02llu", s / 60, s % 60);
    return buf;
}

}  // namespace

Progress::Progress(std::string label, std::optional<std::uint64_t> total, bool allowed)
    : label_(std::move(label)) {
    on_ = allowed && total && *total >= kProgressThreshold && platform::ErrorIsTerminal();
    if (on_) total_ = *total;
    start_ = Clock::now();
}

Progress::~Progress() { Clear(); }

std::string Progress::Line(const std::string& label, std::uint64_t done, std::uint64_t total, double seconds,
                           int columns) {
    // The last column stays free: a line that fills it wraps on some terminals.
    const std::size_t width = static_cast<std::size_t>(std::max(columns, 2) - 1);
    const std::uint64_t shown = std::min(done, total);
    const int per_mille = total == 0 ? 1000 : static_cast<int>(shown * 1000 / total);
    char percent[16];
    std::snprintf(percent, sizeof percent, "%d.%d%%", per_mille / 10, per_mille % 10);
    const bool measured = seconds >= 0.2 && shown > 0;
    const double rate = measured ? shown / seconds : 0;
    const std::string left = (measured ? Duration((total - shown) / rate) : std::string("-:--")) + " left";
    const std::string speed = measured ? Rate(rate) : std::string();
    const std::string sizes = std::to_string(shown >> 20) + "/" + std::to_string(total >> 20) + " MiB";

    // By importance: the share done, the time left, the rate, the sizes, a bar.
    std::string head = label + " " + percent;
    if (head.size() > width) head = percent;
    if (head.size() > width) head.resize(width);
    std::size_t used = head.size();
    const auto fits = [&](const std::string& part) {
        if (part.empty() || used + 2 + part.size() > width) return false;
        used += 2 + part.size();
        return true;
    };
    const bool with_left = fits(left);
    const bool with_speed = with_left && fits(speed);
    const bool with_sizes = with_speed && fits(sizes);
    std::string line = head;
    if (with_sizes) line += "  " + sizes;
    if (with_speed) line += "  " + speed;
    if (with_left) line += "  " + left;
    if (width >= line.size() + 2 + 7) {
        const std::size_t inner = std::min<std::size_t>(width - line.size() - 4, 30);
        const std::size_t filled = inner * static_cast<std::size_t>(per_mille) / 1000;
        line += "  [" + std::string(filled, '#') + std::string(inner - filled, '.') + "]";
    }
    return line;
}

void Progress::Advance(std::uint64_t bytes) {
    if (!on_) return;
    done_ += bytes;
    const auto now = Clock::now();
    if (shown_ && now - drawn_ < kRedraw) return;
    drawn_ = now;
    shown_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string line = Line(label_, done_, total_, seconds, platform::ErrorColumns());
    platform::DrawStatus(line);
}

void Progress::Clear() {
    if (!on_ || !shown_) return;
    platform::ClearStatus();
    shown_ = false;
}

}  // namespace morvik::cli
