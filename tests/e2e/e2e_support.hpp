#pragma once

// Builds launcher images with `talvik pack` and runs them under Wine through runner.exe,
// which reports the launcher's full 32-bit exit code.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct Outcome {
    std::string out;
    std::string err;
    // The launcher's exit code as seen by a Windows parent; nullopt when it did not start.
    std::optional<uint32_t> exit_code;
    // What the parent noted beside it ("key=value" lines after the code), such as
    // grandchild-exit after a kill.
    std::map<std::string, std::string> facts;
};

// What probe.exe reported: "key=value" lines, plus the launcher variables.
struct ProbeReport {
    std::map<std::string, std::string> fields;
    std::vector<std::string> argv;
    std::map<std::string, std::string> variables; // set ones only
    bool complete = false;
};

// Environment changes for one run: a value sets the variable, nullopt removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

std::filesystem::path win_build_dir();
std::filesystem::path probe_exe();
std::filesystem::path wine_prefix();
// The Linux folder behind {CACHE_DIR} in the test prefix.
std::filesystem::path local_appdata();
// A fresh, empty folder for one test.
std::filesystem::path fresh_dir(const std::string& name);

std::string windows_path(const std::filesystem::path& path);

// Runs `talvik ARGS`, returning its exit status; output goes to *output when given.
int run_talvik(const std::vector<std::string>& arguments, std::string* output = nullptr);

// Runs a host program (given by its full path) in folder cwd, returning its exit status;
// its standard output and error go to *output when given.
int run_command(const std::vector<std::string>& arguments, const std::filesystem::path& cwd,
                std::string* output = nullptr);

// How runner.exe hands the launcher its standard handles: inherited as the system does it
// for a console program, passed explicitly (what a windowed launcher needs to get any), or
// none at all (a windowed launcher started from Explorer).
enum class StandardHandles { inherited, passed, none };

// Runs COMMAND_LINE (a Windows command line) in folder cwd through runner.exe, with any
// further options of runner.exe (tests/runner/runner.cpp). Wine runs without a display, so
// a message box can never open and wait.
Outcome run_windows(const std::filesystem::path& cwd, const std::string& command_line,
                    const EnvironmentChanges& environment = {},
                    StandardHandles handles = StandardHandles::inherited,
                    const std::vector<std::string>& runner_options = {});

// A run of runner.exe that goes on while the test watches it. Without a DISPLAY in the
// environment changes Wine runs without a display, as in run_windows. With one, a desktop
// name runs it inside a Wine virtual desktop of that name (explorer /desktop=NAME,SIZE: one
// X window, in which Wine draws every window's frame itself): under Wine each desktop has a
// display driver of its own, so its windows never meet the default desktop, which the tests
// without a display share, and no window waits for a window manager that the test's X
// server does not have (Wine waits up to two seconds for one when a framed window goes).
class WindowsRun {
  public:
    WindowsRun(const std::filesystem::path& cwd, const std::string& command_line,
               const EnvironmentChanges& environment = {},
               StandardHandles handles = StandardHandles::inherited, const std::string& desktop = "",
               const std::vector<std::string>& runner_options = {});
    WindowsRun(const WindowsRun&) = delete;
    WindowsRun& operator=(const WindowsRun&) = delete;
    // Waits for the run if the test has not.
    ~WindowsRun();

    bool running();
    // What the launcher and its child have written so far.
    std::string out_so_far() const;
    std::string err_so_far() const;
    // Waits for the end of the run.
    Outcome finish();

  private:
    std::filesystem::path out_;
    std::filesystem::path err_;
    std::filesystem::path code_;
    int pid_ = -1;
    bool waited_ = false;
};

// What crowd.exe (several launchers at once) saw: each process in the order it was
// started, and the "key=value" facts of its mode. status is crowd.exe's own exit status.
struct CrowdOutcome {
    int status = -1;
    std::vector<Outcome> processes;
    std::map<std::string, std::string> facts;
};

// Runs `crowd.exe MODE OUT_DIR ARGUMENTS...` in folder cwd; OUT_DIR is a fresh folder of its own.
CrowdOutcome run_crowd(const std::filesystem::path& cwd, const std::string& mode,
                       const std::vector<std::string>& arguments);

ProbeReport parse_probe_report(const std::string& out);
// Undoes the probe's escapes (\\, \r, \n, \t, \v, \xHH).
std::string unescape_probe_text(const std::string& text);

// A Windows command-line argument quoted so that CommandLineToArgvW gives it back.
std::string quote_argument(const std::string& argument);

// (relative path, modification time in ns) of every file below root, sorted.
std::vector<std::pair<std::string, int64_t>> snapshot_tree(const std::filesystem::path& root);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

} // namespace e2e
