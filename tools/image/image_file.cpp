#include "tools/image/image_file.hpp"

#include "tools/host/platform.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Pieces in which a file is copied: by the kernel (copy_file_range), or through memory where the kernel
// cannot copy between the two files.
constexpr std::size_t copy_piece_size = std::size_t{1} << 20;
constexpr std::size_t largest_write = std::size_t{1} << 30;

int open_source(const fs::path& source, const char* what) {
    int fd = open_for_reading(source);
    if (fd < 0) {
        throw ToolError(std::string("cannot read ") + what + " " + shown_path(source) + ": " +
                        std::strerror(errno));
    }
    return fd;
}

// copy_file_range refuses some pairs of files (other file systems on old kernels, special
// files), and Windows has no such call (ENOSYS); those are copied through memory instead.
bool kernel_cannot_copy(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == EBADF;
}

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
        // Windows' write takes an unsigned int count.
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

std::uint64_t ImageFile::copy_from(const fs::path& source, const char* what, std::uint64_t most) {
    int in = open_source(source, what);
    std::uint64_t copied = 0;
    bool by_kernel = true;
    std::vector<unsigned char> piece;
    try {
        while (copied <= most) {
            std::size_t wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(copy_piece_size, most + 1 - copied));
            long long got = -1;
            if (by_kernel) {
                got = copy_between_files(in, fd_, wanted);
                if (got < 0 && kernel_cannot_copy(errno) && copied == 0) {
                    by_kernel = false;
                    continue;
                }
                if (got < 0 && errno != EINTR) {
                    fail(errno);
                }
            } else {
                piece.resize(copy_piece_size);
                got = read(in, piece.data(), wanted);
                if (got < 0 && errno != EINTR) {
                    throw ToolError(std::string("cannot read ") + what + " " + shown_path(source) + ": " +
                                    std::strerror(errno));
                }
                if (got > 0) {
                    write(piece.data(), static_cast<std::size_t>(got));
                }
            }
            if (got == 0) {
                break;
            }
            if (got > 0) {
                copied += static_cast<std::uint64_t>(got);
            }
        }
    } catch (...) {
        ::close(in);
        throw;
    }
    ::close(in);
    return copied;
}

void ImageFile::close() {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fail(errno);
    }
}
