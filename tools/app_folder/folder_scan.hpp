#pragma once

#include "payload/format.hpp"
#include "tools/app_folder/exclude_pattern.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct AppFile {
    std::u16string name;        // relative, backslash-separated, as stored in the entry stream
    std::filesystem::path file; // canonical
    std::uint64_t size = 0;
};

// Whether path is folder or lies below it; both canonical.
bool is_inside_folder(const std::filesystem::path& path, const std::filesystem::path& folder);

// Turns the --exe value into an entry name: "/" or "\" separate components; no drive,
// no leading or trailing separator, no empty, "." or ".." component. Throws ToolError.
std::u16string entry_name_from_option(std::string_view exe);

struct ScanSettings {
    std::optional<std::string> exe;
    std::vector<ExcludePattern> excludes;
    // Canonical paths of files that are never packed: talvik's own output and its pending
    // temporary file, when they lie in the app folder.
    std::vector<std::filesystem::path> skipped_files;
    // Canonical path of the file the image will be written to; a file to be packed that is
    // this one is refused ("would overwrite an input file").
    std::filesystem::path output;
    // Called after each file found, with the files and bytes so far.
    std::function<void(std::size_t files, std::uint64_t bytes)> progress;
};

// Every file below app_dir, first the application's executable (exe, or else the one
// .exe file at the top of app_dir), then the rest ordered by their UTF-16 names, code
// unit by code unit. Symbolic links are packed as what they point to when that lies in
// app_dir (directories are followed, loops refused); one that leads out of app_dir is an
// error. Empty directories carry nothing. What an exclude pattern matches is left out
// before any check, a folder with all it holds; the executable cannot be left out.
// Throws ToolError for a missing folder, names that are not UTF-8, hold characters
// Windows refuses (<>:"|?*\ and control characters), end with a dot or blank, are device
// names (CON, NUL, COM1, ... in any component, with any extension) or exceed 1023 UTF-16
// units, two files or folders whose names Windows takes as one (windows_upcase), unreadable
// files, special files, and no or an ambiguous executable.
std::vector<AppFile> scan_app_folder(const std::filesystem::path& app_dir, const ScanSettings& settings);

inline std::vector<AppFile> scan_app_folder(const std::filesystem::path& app_dir,
                                            const std::optional<std::string>& exe) {
    ScanSettings settings;
    settings.exe = exe;
    return scan_app_folder(app_dir, settings);
}
