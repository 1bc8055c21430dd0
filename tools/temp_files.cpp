#include "tools/temp_files.hpp"

#include "tools/report.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr mode_t executable_mode = 0777;

mode_t current_umask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/talvik-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw ToolError("cannot make a temporary folder from " + pattern + ": " + std::strerror(errno));
    path_ = pattern;
}

TempFolder::~TempFolder() {
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
}

PendingOutput::~PendingOutput() {
    if (!committed_) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
}

void PendingOutput::commit() {
    if (chmod(temporary_.c_str(), executable_mode & ~current_umask()) != 0 ||
        std::rename(temporary_.c_str(), output_.c_str()) != 0)
        throw ToolError("cannot write " + output_.string() + ": " + std::strerror(errno));
    committed_ = true;
}
