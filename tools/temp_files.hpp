#pragma once

#include <array>
#include <filesystem>

// The files of the work folder. They are named here, in one place, so that an interrupt
// can remove them without listing the folder (see install_interrupt_cleanup).
namespace work_file {
constexpr const char* constants_source = "constants.S";
constexpr const char* constants_object = "constants.o";
constexpr const char* resources_res = "resources.res";
constexpr const char* resources_object = "resources.o";
constexpr const char* attached_data = "attached-data.bin";
constexpr const char* tool_output = "tool-output.txt";
constexpr const char* padding_source = "padding.S";
constexpr const char* padding_object = "padding.o";
constexpr std::array<const char*, 8> all = {constants_source, constants_object, resources_res,
                                            resources_object, attached_data,    tool_output,
                                            padding_source,   padding_object};
} // namespace work_file

// On SIGINT, SIGTERM or SIGHUP, removes the live TempFolder and PendingOutput before the
// process ends by that signal, so an interrupted run leaves nothing behind either.
void install_interrupt_cleanup();

// A private folder for the intermediate files of one run (mode 0700, under TMPDIR or
// /tmp); it goes away with everything in it when the object does.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The output file while it is being written: a fresh temporary name in the output's own
// folder, so that commit() can rename it into place in one step. Until then, the
// destructor removes it: a failed run leaves no output behind. The output must be a
// regular file or a new name; a symbolic link is followed to the regular file it leads
// to. Throws ToolError, before anything is written, for anything else.
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
