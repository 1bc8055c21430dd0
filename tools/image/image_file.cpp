#include "tools/image/image_file.hpp"

#include "tools/host/platform.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Windows' write takes an unsigned int count.
constexpr std::size_t largest_write = std::size_t{1} << 30;

} // namespace

ImageFile::ImageFile(const fs::path& path) : path_(path) {
    fd_ = open_for_writing(path);
    if (fd_ < 0) {
        fail(errno);
    }
}

ImageFile::~ImageFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void ImageFile::fail(int error) const {
    throw ToolError("cannot write " + shown_path(path_) + ": " + std::strerror(error));
}

void ImageFile::seek(std::uint64_t offset) {
    if (!seek_to(fd_, offset)) {
        fail(errno);
    }
}

void ImageFile::write(const unsigned char* data, std::size_t length) {
    while (length > 0) {
        std::size_t piece = std::min(length, largest_write);
        auto written = ::write(fd_, data, piece);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            fail(written < 0 ? errno : EIO);
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

void ImageFile::write_zeros(std::uint64_t count) {
    static const unsigned char zeros[4096] = {};
    while (count > 0) {
        std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof zeros));
        write(zeros, piece);
        count -= piece;
    }
}

void ImageFile::close() {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fail(errno);
    }
}
