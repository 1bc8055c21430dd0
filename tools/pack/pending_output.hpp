#pragma once

#include <filesystem>

// The output file while it is being written: a fresh temporary name in the output's own
// folder, so that commit() can rename it into place in one step. Until then, the
// destructor removes it: a failed run leaves no output behind. The output must be a
// regular file or a new name; a symbolic link is followed to the regular file it leads
// to. Throws ToolError, before anything is written, for anything else. After
// install_interrupt_cleanup (platform.hpp), an interrupted run leaves nothing behind either.
class PendingOutput {
  public:
    explicit PendingOutput(const std::filesystem::path& output);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    // Both canonical: the file the image replaces or creates, and the temporary one.
    const std::filesystem::path& path() const { return output_; }
    const std::filesystem::path& temporary_path() const { return temporary_; }
    // Gives the file the usual executable mode (0777 less the umask) and renames it.
    void commit();

  private:
    std::filesystem::path output_;
    std::filesystem::path temporary_;
    bool committed_ = false;
};
