#include "tools/host/progress_line.hpp"

#include "tools/host/tool_messages.hpp"

namespace {
constexpr auto redraw_interval = std::chrono::milliseconds(100);
} // namespace

ProgressLine::ProgressLine(bool enabled, std::FILE* stream) : enabled_(enabled), stream_(stream) {}

ProgressLine::~ProgressLine() {
    finish();
}

bool ProgressLine::due(bool force) {
    auto now = std::chrono::steady_clock::now();
    if (shown_ && !force && now - last_ < redraw_interval) {
        return false;
    }
    last_ = now;
    return true;
}

void ProgressLine::draw(const std::string& text) {
    if (shown_ && text == text_) {
        return;
    }
    shown_ = true;
    text_ = text;
    std::fprintf(stream_, "\rtalvik: %s\033[K", text.c_str());
    std::fflush(stream_);
}

void ProgressLine::scanning(std::size_t files, std::uint64_t bytes) {
    if (!enabled_) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (due(false)) {
        draw("scanning: " + std::to_string(files) + (files == 1 ? " file, " : " files, ") + size_text(bytes));
    }
}

void ProgressLine::compressing(std::size_t files_done, std::size_t total_files, std::uint64_t bytes_done,
                               std::uint64_t total_bytes) {
    if (!enabled_) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (due(files_done == total_files)) {
        draw("compressing " + std::to_string(files_done) + "/" + std::to_string(total_files) + " files, " +
             size_text(bytes_done) + " of " + size_text(total_bytes));
    }
}

void ProgressLine::decoding(std::uint64_t entries, std::uint64_t bytes) {
    if (!enabled_) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (due(false)) {
        draw("decoding: " + std::to_string(entries) + (entries == 1 ? " entry, " : " entries, ") +
             size_text(bytes));
    }
}

void ProgressLine::step(const std::string& text) {
    if (!enabled_) {
        return;
    }
    std::lock_guard lock(mutex_);
    due(true);
    draw(text);
}

void ProgressLine::finish() {
    std::lock_guard lock(mutex_);
    if (shown_) {
        std::fprintf(stream_, "\r\033[K");
        std::fflush(stream_);
    }
    shown_ = false;
}
