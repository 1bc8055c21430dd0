#include "tools/host/platform.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr mode_t executable_mode = 0777;

std::error_code last_error() {
    return {errno, std::generic_category()};
}

// The signal handler may only make async-signal-safe calls, so the path waits for it in a
// fixed buffer; a path that does not fit is simply not cleaned up on an interrupt.
constexpr std::size_t cleanup_path_capacity = 4096;
char pending_path[cleanup_path_capacity];
volatile std::sig_atomic_t pending_path_set = 0;
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

void remove_pending_path(int signal_number) {
    if (pending_path_set) {
        unlink(pending_path);
    }
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

mode_t current_umask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

std::vector<std::string> command_arguments(int argc, char** argv) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

void prepare_standard_streams() {
    // A standard stream that the caller closed would otherwise be the number that the next
    // open gets, and output meant for it would go into that file (the image, say). Held by
    // /dev/null opened read-only, it keeps its number and every write to it fails, which the
    // commands report.
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int held = open("/dev/null", O_RDONLY);
            if (held >= 0 && held != fd) {
                dup2(held, fd);
                close(held);
            }
        }
    }
}

bool stderr_is_console() {
    return isatty(STDERR_FILENO);
}

fs::path path_from_utf8(std::string_view text) {
    return fs::path(text);
}

std::string path_to_utf8(const fs::path& path) {
    return path.native();
}

fs::path real_path(const fs::path& path, std::error_code& error) {
    return fs::canonical(path, error);
}

std::vector<fs::path> folder_names(const fs::path& folder, std::error_code& error) {
    std::vector<fs::path> names;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename());
    }
    return names;
}

FolderEntry look_at_entry(const fs::path& path, std::error_code& error) {
    FolderEntry entry;
    entry.status = fs::symlink_status(path, error);
    if (error) {
        return entry;
    }
    entry.target = path;
    entry.is_link = fs::is_symlink(entry.status);
    if (entry.is_link) {
        entry.target = fs::canonical(path, entry.link_error);
        if (!entry.link_error) {
            entry.status = fs::status(entry.target, entry.link_error);
        }
    }
    return entry;
}

OutputKind output_kind(const fs::path& path, std::error_code& error) {
    error.clear();
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            error = last_error();
        }
        return OutputKind::missing;
    }
    if (S_ISREG(info.st_mode)) {
        return OutputKind::regular_file;
    }
    if (S_ISLNK(info.st_mode)) {
        return OutputKind::link;
    }
    if (S_ISDIR(info.st_mode)) {
        return OutputKind::folder;
    }
    if (S_ISFIFO(info.st_mode)) {
        return OutputKind::pipe;
    }
    if (S_ISSOCK(info.st_mode)) {
        return OutputKind::socket;
    }
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
        return OutputKind::device;
    }
    return OutputKind::other;
}

fs::path create_unique_file(const fs::path& folder, const std::string& stem, std::error_code& error) {
    std::string pattern = (folder / (stem + "XXXXXX")).native();
    int fd = mkstemp(pattern.data());
    if (fd < 0) {
        error = last_error();
        return {};
    }
    close(fd);
    error.clear();
    return pattern;
}

void replace_file(const fs::path& temporary, const fs::path& output, std::error_code& error) {
    error.clear();
    if (chmod(temporary.c_str(), executable_mode & ~current_umask()) != 0 ||
        std::rename(temporary.c_str(), output.c_str()) != 0) {
        error = last_error();
    }
}

void install_interrupt_cleanup() {
    for (int signal_number : cleanup_signals) {
        struct sigaction action = {};
        action.sa_handler = remove_pending_path;
        sigemptyset(&action.sa_mask);
        for (int blocked : cleanup_signals) {
            sigaddset(&action.sa_mask, blocked);
        }
        sigaction(signal_number, &action, nullptr);
    }
}

void remove_on_interrupt(const fs::path& path) {
    pending_path_set = 0;
    const std::string& text = path.native();
    if (text.size() >= cleanup_path_capacity) {
        return;
    }
    std::memcpy(pending_path, text.c_str(), text.size() + 1);
    pending_path_set = 1;
}

void keep_on_interrupt() {
    pending_path_set = 0;
}

int open_for_reading(const fs::path& path) {
    // O_NONBLOCK changes nothing for a regular file's reads.
    return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

bool regular_file_size(int fd, std::uint64_t& size) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

int open_for_writing(const fs::path& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

bool seek_to(int fd, std::uint64_t offset) {
    return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}
