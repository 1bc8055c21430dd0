#include "tools/host/file_bytes.hpp"

#include "tools/host/platform.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

Bytes read_file_bytes(const std::filesystem::path& path, const char* what, std::uint64_t max_size) {
    std::string failure = std::string("cannot read ") + what + " " + shown_path(path) + ": ";
    int fd = open_for_reading(path);
    if (fd < 0) {
        throw ToolError(failure + std::strerror(errno));
    }
    std::uint64_t size = 0;
    if (!regular_file_size(fd, size)) {
        ::close(fd);
        throw ToolError(failure + "it is no regular file");
    }
    if (size > max_size) {
        ::close(fd);
        throw ToolError(failure + "it has " + std::to_string(size) + " bytes, more than the " +
                        std::to_string(max_size) + " it may have");
    }
    Bytes bytes(static_cast<std::size_t>(size));
    std::size_t got = 0;
    // A file that shrinks meanwhile gives what it still has; one that grows, its first size.
    while (got < bytes.size()) {
        unsigned int piece = static_cast<unsigned int>(std::min<std::size_t>(bytes.size() - got, 1u << 30));
        auto count = ::read(fd, bytes.data() + got, piece);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            int error = errno;
            ::close(fd);
            throw ToolError(failure + std::strerror(error));
        }
        if (count == 0) {
            break;
        }
        got += static_cast<std::size_t>(count);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}
