#include "tools/progress.hpp"

#include <cstdio>

namespace {
constexpr auto redraw_interval = std::chrono::milliseconds(100);
constexpr double bytes_per_megabyte = 1024.0 * 1024.0;
} // namespace

ProgressLine::ProgressLine(bool enabled, std::size_t total_files, std::uint64_t total_bytes)
    : enabled_(enabled), total_files_(total_files), total_bytes_(total_bytes) {}

void ProgressLine::update(std::size_t files_done, std::uint64_t bytes_done) {
    if (!enabled_)
        return;
    std::lock_guard lock(mutex_);
    auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < redraw_interval && files_done < total_files_)
        return;
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\rtalvik: packing %zu/%zu files, %.1f/%.1f MB\033[K", files_done, total_files_,
                 static_cast<double>(bytes_done) / bytes_per_megabyte,
                 static_cast<double>(total_bytes_) / bytes_per_megabyte);
    std::fflush(stderr);
}

void ProgressLine::finish() {
    std::lock_guard lock(mutex_);
    if (shown_)
        std::fprintf(stderr, "\r\033[K");
    shown_ = false;
}
