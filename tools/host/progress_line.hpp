#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

// One status line for the long steps of a run, rewritten in place on a terminal's stderr
// at most ten times a second: "talvik: scanning: N files, X MiB", "talvik: compressing
// N/M files, X/Y MiB", "talvik: writing the image", and while attached data is checked
// "talvik: decoding: N entries, X MiB". Silent when disabled (stderr is no terminal, or
// --quiet). The line is cleared by finish() and by the destructor, so that
// what follows, an error message too, starts on a clean line.
class ProgressLine {
  public:
    explicit ProgressLine(bool enabled, std::FILE* stream = stderr);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void scanning(std::size_t files, std::uint64_t bytes);
    // May be called from the compressor's threads.
    void compressing(std::size_t files_done, std::size_t total_files, std::uint64_t bytes_done,
                     std::uint64_t total_bytes);
    void decoding(std::uint64_t entries, std::uint64_t bytes);
    // A step without counts, shown at once (once only, when it is shown already).
    void step(const std::string& text);
    void finish();

  private:
    bool due(bool force);
    void draw(const std::string& text);

    bool enabled_;
    std::FILE* stream_;
    bool shown_ = false;
    std::string text_;
    std::chrono::steady_clock::time_point last_;
    std::mutex mutex_;
};
