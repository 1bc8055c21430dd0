#include "tools/temp_files.hpp"

#include "tools/report.hpp"

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
        throw ToolError("cannot make a temporary folder from " + pattern + ": " + std::strerror(errno));
    path_ = pattern;
    remember(work_folder_path, work_folder_set, path_);
}

TempFolder::~TempFolder() {
    work_folder_set = 0;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

PendingOutput::PendingOutput(const fs::path& output) : output_(output) {
    fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    std::error_code error;
    if (!fs::is_directory(folder, error))
        throw ToolError("the output folder " + folder.string() + " does not exist");
    if (fs::is_directory(output, error))
        throw ToolError("the output " + output.string() + " is a folder");
    std::string leaf = output.filename().string();
    leaf.insert(leaf.begin(), '.');
    leaf += ".talvik-XXXXXX";
    std::string pattern = (folder / leaf).string();
    int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw ToolError("cannot write in " + folder.string() + ": " + std::strerror(errno));
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
    if (chmod(temporary_.c_str(), executable_mode & ~current_umask()) != 0 ||
        std::rename(temporary_.c_str(), output_.c_str()) != 0)
        throw ToolError("cannot write " + output_.string() + ": " + std::strerror(errno));
    pending_output_set = 0;
    committed_ = true;
}
