#pragma once

// Producer of the attached data (host side; Windows test programs build it too): the
// entry stream of a list of files, compressed as one zstd frame, with header and trailer.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct PayloadSource {
    // Relative name as the launcher will join it: backslash-separated UTF-16.
    std::u16string name;
    // The body is read from file, unless file is empty; then contents is the body.
    std::filesystem::path file;
    std::string contents;
};

// The entry stream is compressed in jobs of this size, so that every core has work; the cut
// depends on the stream alone (see producer.cpp for how the size was chosen).
constexpr std::size_t compression_job_size = std::size_t{16} << 20;

struct CompressionSettings {
    int level = 19;
    // 0 chooses the smallest window that covers the entry stream, at most 2^27.
    int window_log = 0;
    // How many workers compress at once; 0: one per core. The stream is cut into the same
    // jobs whatever their number, so the bytes do not depend on it.
    int threads = 0;
};

// Called as bodies are consumed: entries done so far and input bytes so far.
using ProducerProgress = std::function<void(std::size_t entries_done, std::uint64_t bytes_done)>;

// The window log chosen when CompressionSettings::window_log is 0: the smallest (at least
// 10) whose window covers the whole entry stream, at most 27.
int choose_window_log(std::uint64_t stream_size);

// Size of the entry stream the sources make (names, fields, bodies, end marker).
std::uint64_t entry_stream_size(const std::vector<PayloadSource>& sources);

// The uncompressed entry stream, for tests and benchmarks.
std::vector<unsigned char> build_entry_stream(const std::vector<PayloadSource>& sources);

// 'K','A','Y', the frame, zero bytes to a multiple of 8, and the 64-bit offset of the count.
std::vector<unsigned char> wrap_attached_data(const std::vector<unsigned char>& frame);

// Receives the attached data in order, piece by piece; it may throw to stop the producer.
using AttachedDataSink = std::function<void(const unsigned char* data, std::size_t length)>;

// Streams the attached data for the sources to sink, so that memory does not grow with its
// size, and returns its length. The frame states its content size. Throws
// std::runtime_error on unreadable files or compressor errors.
std::uint64_t write_attached_data(const std::vector<PayloadSource>& sources,
                                  const CompressionSettings& settings, const AttachedDataSink& sink,
                                  const ProducerProgress& progress = {});

// The same in memory, for tests and small blocks.
std::vector<unsigned char> build_attached_data(const std::vector<PayloadSource>& sources,
                                               const CompressionSettings& settings,
                                               const ProducerProgress& progress = {});
