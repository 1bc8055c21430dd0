#pragma once

#include "tools/host/tool_error.hpp"

#include <filesystem>
#include <string>
#include <vector>

// Host test helpers: scratch folders, files, running the talvik binary and checking how it
// refuses a mistake.

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::string& contents);
void write_file(const std::filesystem::path& path, const std::vector<unsigned char>& contents);
std::vector<unsigned char> read_file(const std::filesystem::path& path);

struct ToolResult {
    int exit_status = -1; // minus the signal number when a signal ended it
    std::string out;
    std::string err;
    long max_resident_kib = 0; // the most memory it held at once (with any child it waited for)
};

// Runs the talvik binary with these arguments (and extra environment entries NAME=VALUE).
ToolResult run_talvik_binary(const std::vector<std::string>& args,
                             const std::vector<std::string>& environment = {});

// Runs a script with /bin/sh -c, TALVIK naming the talvik binary in its environment: for
// runs in another folder, under another umask or through another program.
ToolResult run_shell(const std::string& script, const std::vector<std::string>& environment = {});

// The path of the talvik binary under test.
std::filesystem::path talvik_binary();

// The same in two steps, for a test that signals the running program.
struct RunningTool {
    int pid = -1;
    std::filesystem::path out_file, err_file;
};
// stderr_fd, when given, becomes the program's stderr instead of a capture file.
RunningTool start_talvik_binary(const std::vector<std::string>& args,
                                const std::vector<std::string>& environment,
                                const std::filesystem::path& capture_folder, int stderr_fd = -1);
ToolResult wait_for(const RunningTool& tool);

// Runs the talvik binary with its stderr on a pseudo-terminal of its own, as in an
// interactive shell; err is what the terminal received (line ends as CR LF).
ToolResult run_talvik_on_terminal(const std::vector<std::string>& args,
                                  const std::vector<std::string>& environment = {});

std::vector<std::string> lines_of(const std::string& text);

// Every file below a folder, relative, sorted: what a failed run must not add to.
std::vector<std::string> files_below(const std::filesystem::path& folder);

// The message of the ToolError that action throws, or "(no error)".
std::string error_of(const auto& action) {
    try {
        action();
    } catch (const ToolError& error) {
        return error.what();
    }
    return "(no error)";
}

// The Windows build that supplies the stub talvik embeds, and that stub.
extern const std::filesystem::path win_build_dir;
extern const std::filesystem::path stub_image;

// Any file with the MZ and PE signatures passes as the first entry.
std::string tiny_pe();

// A mistake ends talvik with status 1 and one error line that holds message.
void expect_one_error_line(const ToolResult& result, const std::string& message);
