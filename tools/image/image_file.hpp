#pragma once

#include "resources/byte_writer.hpp"

#include <cstdint>
#include <filesystem>

// The file an image is written into, at any position. Every failure throws ToolError
// naming the file and the system's reason.
class ImageFile {
  public:
    // Opens the file for writing, emptying it (or making it, readable by its owner alone).
    explicit ImageFile(const std::filesystem::path& path);
    ~ImageFile();
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    void seek(std::uint64_t offset);
    void write(const unsigned char* data, std::size_t length);
    void write(const Bytes& bytes) { write(bytes.data(), bytes.size()); }
    void write_zeros(std::uint64_t count);

    void close();

  private:
    [[noreturn]] void fail(int error) const;

    std::filesystem::path path_;
    int fd_ = -1;
};
