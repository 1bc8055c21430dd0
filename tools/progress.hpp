#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

// "talvik: packing N/M files, X/Y MB", rewritten in place on a terminal's stderr at most
// ten times a second; silent when stderr is no terminal or --quiet is given.
class ProgressLine {
  public:
    ProgressLine(bool enabled, std::size_t total_files, std::uint64_t total_bytes);
    void update(std::size_t files_done, std::uint64_t bytes_done);
    // Clears the line so that what follows starts on a clean one.
    void finish();

  private:
    bool enabled_;
    bool shown_ = false;
    std::size_t total_files_;
    std::uint64_t total_bytes_;
    std::chrono::steady_clock::time_point last_;
    std::mutex mutex_;
};
