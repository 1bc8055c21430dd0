#include "tools/pending_output.hpp"

#include "tools/report.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr mode_t executable_mode = 0777;

// The signal handler may only make async-signal-safe calls, so the path waits for it in a
// fixed buffer; a path that does not fit is simply not cleaned up on an interrupt.
constexpr std::size_t cleanup_path_capacity = 4096;
char pending_output_path[cleanup_path_capacity];
volatile std::sig_atomic_t pending_output_set = 0;
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

void remember_pending_output(const fs::path& path) {
    pending_output_set = 0;
    const std::string& text = path.native();
    if (text.size() >= cleanup_path_capacity)
        return;
    std::memcpy(pending_output_path, text.c_str(), text.size() + 1);
    pending_output_set = 1;
}

void remove_on_interrupt(int signal_number) {
    if (pending_output_set)
        unlink(pending_output_path);
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
    remember_pending_output(temporary_);
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
