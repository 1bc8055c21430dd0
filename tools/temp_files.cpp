#include "tools/temp_files.hpp"

#include "tools/report.hpp"
#include "tools/text.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr mode_t executable_mode = 0777;

// The signal handler may only make async-signal-safe calls, so the paths wait for it in
// fixed buffers; a path that does not fit is simply not cleaned up on an interrupt.
constexpr std::size_t cleanup_path_capacity = 4096;
char work_folder_path[cleanup_path_capacity];
char pending_output_path[cleanup_path_capacity];
volatile std::sig_atomic_t work_folder_set = 0;
volatile std::sig_atomic_t pending_output_set = 0;
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

void remember(char* buffer, volatile std::sig_atomic_t& set, const fs::path& path) {
    set = 0;
    const std::string& text = path.native();
    if (text.size() >= cleanup_path_capacity)
        return;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    set = 1;
}

void remove_on_interrupt(int signal_number) {
    if (pending_output_set)
        unlink(pending_output_path);
    if (work_folder_set) {
        int folder = open(work_folder_path, O_RDONLY | O_DIRECTORY);
        if (folder >= 0) {
            for (const char* name : work_file::all)
                unlinkat(folder, name, 0);
            close(folder);
        }
        rmdir(work_folder_path);
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

void install_interrupt_cleanup() {
    for (int signal_number : cleanup_signals) {
        struct sigaction action = {};
        action.sa_handler = remove_on_interrupt;
        sigemptyset(&action.sa_mask);
        for (int blocked : cleanup_signals)
            sigaddset(&action.sa_mask, blocked);
        sigaction(signal_number, &action, nullptr);
    }
}

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/talvik-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw ToolError("cannot make a temporary folder from " + shown_text(pattern) + ": " +
                        std::strerror(errno));
    path_ = pattern;
    remember(work_folder_path, work_folder_set, path_);
}

TempFolder::~TempFolder() {
    work_folder_set = 0;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {

std::string file_kind(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe (FIFO)";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "no regular file";
}

// Renaming the image over a device, FIFO or socket would replace it (as root, a device
// node too), and over a folder it fails late; both are refused before anything is
// written. A symbolic link is followed, so the image replaces what it leads to and the
// link stays.
fs::path resolve_output(const fs::path& output) {
    std::string shown = shown_path(output);
    if (output.filename().empty())
        throw ToolError("the output " + shown + " names a folder, not a file");
    struct stat info;
    if (lstat(output.c_str(), &info) != 0) {
        if (errno != ENOENT)
            throw ToolError("cannot look at the output " + shown + ": " + std::strerror(errno));
        fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
        std::error_code error;
        fs::path real_folder = fs::canonical(folder, error);
        if (error || !fs::is_directory(real_folder, error))
            throw ToolError("the output folder " + shown_path(folder) + " does not exist");
        return real_folder / output.filename();
    }
    if (S_ISLNK(info.st_mode)) {
        std::error_code error;
        fs::path target = fs::canonical(output, error);
        if (error)
            throw ToolError("the output " + shown + " is a symbolic link that leads nowhere");
        if (stat(target.c_str(), &info) != 0)
            throw ToolError("cannot look at the output " + shown + ": " + std::strerror(errno));
        if (!S_ISREG(info.st_mode))
            throw ToolError("the output " + shown + " is a symbolic link to " + file_kind(info.st_mode) +
                            ", not a regular file");
        return target;
    }
    if (!S_ISREG(info.st_mode))
        throw ToolError("the output " + shown + " is " + file_kind(info.st_mode) + ", not a regular file");
    std::error_code error;
    fs::path real_output = fs::canonical(output, error);
    if (error)
        throw ToolError("cannot look at the output " + shown + ": " + error.message());
    return real_output;
}

} // namespace

PendingOutput::PendingOutput(const fs::path& output) : output_(resolve_output(output)) {
    fs::path folder = output_.parent_path();
    std::string leaf = output_.filename().string();
    leaf.insert(leaf.begin(), '.');
    leaf += ".talvik-XXXXXX";
    std::string pattern = (folder / leaf).string();
    int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw ToolError("cannot write in " + shown_path(folder) + ": " + std::strerror(errno));
    close(fd);
    temporary_ = pattern;
    remember(pending_output_path, pending_output_set, temporary_);
}

PendingOutput::~PendingOutput() {
    pending_output_set = 0;
    if (!committed_) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
}

void PendingOutput::commit() {
    // Something else may have taken the name while the image was made.
    struct stat info;
    if (lstat(output_.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
        throw ToolError("the output " + shown_path(output_) + " became " + file_kind(info.st_mode) +
                        " while the image was made; nothing written");
    if (chmod(temporary_.c_str(), executable_mode & ~current_umask()) != 0 ||
        std::rename(temporary_.c_str(), output_.c_str()) != 0)
        throw ToolError("cannot write " + shown_path(output_) + ": " + std::strerror(errno));
    pending_output_set = 0;
    committed_ = true;
}
