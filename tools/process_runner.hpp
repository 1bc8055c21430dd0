#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct ProgramRun {
    int exit_status = -1; // -1 when it ended by a signal
    std::string output;   // its stdout and stderr together
};

// Runs argv[0] (looked up on PATH) in cwd with stdin from /dev/null and its output
// collected in capture_file. Throws ToolError when it cannot be started.
ProgramRun run_program(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                       const std::filesystem::path& capture_file);

// True when the command names an existing executable file, directly or on PATH.
bool program_exists(const std::string& command);
