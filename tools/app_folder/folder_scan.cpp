#include "tools/app_folder/folder_scan.hpp"

#include "payload/lock_file_layout.hpp"
#include "payload/stamp_name.hpp"

#include "tools/app_folder/windows_names.hpp"
#include "tools/host/platform.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct Walk {
    const ScanSettings* settings;
    fs::path root;                                // canonical app_dir
    std::vector<fs::path> open_dirs;              // canonical folders on the way down, to refuse loops
    std::vector<std::u16string> upper_components; // of the folder being read, for the excludes
    std::vector<AppFile> files;
    std::uint64_t bytes = 0;
    // Top-level .exe files that an exclude pattern left out, for the message when no
    // executable remains.
    std::vector<std::pair<std::u16string, std::string>> excluded_executables;
};

std::u16string ascii_lower(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& unit : lower) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = unit + (u'a' - u'A');
        }
    }
    return lower;
}

// Whether the name begins with one that launchers keep for themselves (ASCII), compared as
// Windows compares names, since their files share the folder.
bool begins_with_kept_name(const std::u16string& leaf_name, const char* kept) {
    std::u16string upper = windows_upcase(leaf_name);
    for (std::size_t at = 0; kept[at] != 0; ++at) {
        char letter = kept[at];
        char16_t wanted = letter >= 'a' && letter <= 'z' ? char16_t(letter - ('a' - 'A')) : char16_t(letter);
        if (at >= upper.size() || upper[at] != wanted) {
            return false;
        }
    }
    return true;
}

bool is_top_level_exe(const std::u16string& name) {
    return name.find(u'\\') == std::u16string::npos && name.size() > 4 &&
           ascii_lower(name).ends_with(u".exe");
}

const ExcludePattern* matching_exclude(const ScanSettings& settings,
                                       const std::vector<std::u16string>& upper_components, bool is_folder) {
    for (const ExcludePattern& pattern : settings.excludes) {
        if (exclude_pattern_matches(pattern, upper_components, is_folder)) {
            return &pattern;
        }
    }
    return nullptr;
}

std::u16string append_component(const std::u16string& parent, const fs::path& leaf, const fs::path& full) {
    std::u16string component = utf8_to_utf16(path_to_utf8(leaf), "the file name " + shown_path(full));
    if (std::string problem = component_problem(component); !problem.empty()) {
        throw ToolError("the file name " + shown_path(full) + " " + problem);
    }
    std::u16string name = parent.empty() ? component : parent + u"\\" + component;
    if (name.size() > max_entry_name_units) {
        throw ToolError("the name " + shown_path(full) + " is longer than " +
                        std::to_string(max_entry_name_units) + " UTF-16 units");
    }
    return name;
}

void add_file(Walk& walk, const fs::path& path, const fs::path& target, const std::u16string& name) {
    std::ifstream probe(target, std::ios::binary);
    if (!probe) {
        throw ToolError("cannot read " + shown_path(path));
    }
    std::error_code error;
    std::uintmax_t size = fs::file_size(target, error);
    if (error) {
        throw ToolError("cannot read " + shown_path(path) + ": " + error.message());
    }
    walk.files.push_back({name, target, size});
    walk.bytes += size;
    if (walk.settings->progress) {
        walk.settings->progress(walk.files.size(), walk.bytes);
    }
}

void walk_folder(Walk& walk, const fs::path& folder, const fs::path& real_folder,
                 const std::u16string& prefix) {
    std::error_code error;
    std::vector<fs::path> children = folder_names(real_folder, error);
    if (error) {
        throw ToolError("cannot read the folder " + shown_path(folder) + ": " + error.message());
    }

    walk.open_dirs.push_back(real_folder);
    for (const fs::path& leaf : children) {
        fs::path path = folder / leaf;
        FolderEntry entry = look_at_entry(real_folder / leaf, error);
        if (error) {
            throw ToolError("cannot read " + shown_path(path) + ": " + error.message());
        }
        bool is_link = entry.is_link;
        const fs::path& target = entry.target;
        const std::error_code& link_error = entry.link_error;
        fs::file_status status = entry.status;

        // What is excluded is not looked at any further, not even its name.
        bool is_folder = !link_error && fs::is_directory(status);
        std::u16string leaf_name = utf8_to_utf16_replacing(path_to_utf8(leaf));
        walk.upper_components.push_back(windows_upcase(leaf_name));
        const ExcludePattern* excluded = matching_exclude(*walk.settings, walk.upper_components, is_folder);
        walk.upper_components.pop_back();
        if (excluded) {
            if (prefix.empty() && !is_folder && is_top_level_exe(leaf_name)) {
                walk.excluded_executables.emplace_back(leaf_name, excluded->text);
            }
            continue;
        }
        const std::vector<fs::path>& skipped = walk.settings->skipped_files;
        if (!link_error && std::find(skipped.begin(), skipped.end(), target) != skipped.end()) {
            continue;
        }

        if (prefix.empty() && begins_with_kept_name(leaf_name, tree_stamp_name)) {
            throw ToolError(shown_path(path) + " has a name that launchers keep for their stamp of the " +
                            "unpacked tree (" + tree_stamp_name +
                            "...); rename it or leave it out with --exclude");
        }
        if (prefix.empty() && begins_with_kept_name(leaf_name, extraction_lock_file_name)) {
            throw ToolError(shown_path(path) + " has a name that launchers keep for their lock of the " +
                            "unpacked tree (" + extraction_lock_file_name +
                            "...); rename it or leave it out with --exclude");
        }
        std::u16string name = append_component(prefix, leaf, path);
        if (is_link) {
            if (link_error) {
                throw ToolError("the symbolic link " + shown_path(path) +
                                " leads nowhere: " + link_error.message());
            }
            if (!is_inside_folder(target, walk.root)) {
                throw ToolError("the symbolic link " + shown_path(path) +
                                " leads out of the app folder, to " + shown_path(target));
            }
        }
        if (fs::is_directory(status)) {
            if (std::find(walk.open_dirs.begin(), walk.open_dirs.end(), target) != walk.open_dirs.end()) {
                throw ToolError("the symbolic link " + shown_path(path) + " makes a loop");
            }
            walk.upper_components.push_back(windows_upcase(leaf_name));
            walk_folder(walk, path, target, name);
            walk.upper_components.pop_back();
        } else if (fs::is_regular_file(status)) {
            if (target == walk.settings->output) {
                throw ToolError("the output would overwrite an input file, " + shown_path(path));
            }
            add_file(walk, path, target, name);
        } else {
            throw ToolError(shown_path(path) + " is not a regular file");
        }
    }
    walk.open_dirs.pop_back();
}

// NTFS takes two names as one when they are equal in its upper case; a folder counts as
// the name of every file below it, so a file may clash with a folder too.
void refuse_case_clashes(const std::vector<AppFile>& files) {
    struct Name {
        std::u16string name;
        bool folder;
        const std::u16string* example; // a file below the folder
    };
    auto describe = [](const Name& seen) {
        return seen.folder ? "the folder " + shown_name(seen.name) + " (of " + shown_name(*seen.example) + ")"
                           : "the file " + shown_name(seen.name);
    };
    std::map<std::u16string, Name> seen;
    for (const AppFile& file : files) {
        for (std::size_t end = file.name.find(u'\\');; end = file.name.find(u'\\', end + 1)) {
            Name name{file.name.substr(0, end), end != std::u16string::npos, &file.name};
            auto [it, added] = seen.emplace(windows_upcase(name.name), name);
            if (!added && (it->second.name != name.name || it->second.folder != name.folder)) {
                throw ToolError(describe(it->second) + " and " + describe(name) +
                                " differ only in case, which Windows does not tell apart");
            }
            if (!name.folder) {
                break;
            }
        }
    }
}

// The first entry cannot be left out: say so rather than "no such file".
void refuse_excluded_executable(const ScanSettings& settings, const std::u16string& exe_name) {
    std::vector<std::u16string> components;
    for (std::size_t start = 0;;) {
        std::size_t end = exe_name.find(u'\\', start);
        components.push_back(windows_upcase(exe_name.substr(start, end - start)));
        bool is_folder = end != std::u16string::npos;
        if (const ExcludePattern* pattern = matching_exclude(settings, components, is_folder)) {
            throw ToolError("--exe " + shown_text(*settings.exe) + " is excluded by --exclude \"" +
                            shown_text(pattern->text) + "\"; the first entry is always packed");
        }
        if (!is_folder) {
            break;
        }
        start = end + 1;
    }
}

} // namespace

bool is_inside_folder(const fs::path& path, const fs::path& folder) {
    auto [folder_end, path_it] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return folder_end == folder.end();
}

std::u16string entry_name_from_option(std::string_view exe) {
    std::string shown_exe = shown_text(exe);
    std::u16string name = utf8_to_utf16(exe, "--exe " + shown_exe);
    for (char16_t& unit : name) {
        if (unit == u'/') {
            unit = u'\\';
        }
    }
    if (name.empty()) {
        throw ToolError("--exe is empty");
    }
    if (name.find(u':') != std::u16string::npos) {
        throw ToolError("--exe " + shown_exe + " has a drive or a colon; name a file relative to APP_DIR");
    }
    if (name.front() == u'\\') {
        throw ToolError("--exe " + shown_exe + " starts with a separator; name a file relative to APP_DIR");
    }
    std::size_t start = 0;
    while (true) {
        std::size_t end = name.find(u'\\', start);
        std::u16string_view component = std::u16string_view(name).substr(
            start, end == std::u16string::npos ? std::u16string::npos : end - start);
        if (component.empty() || component == u"." || component == u"..") {
            throw ToolError("--exe " + shown_exe +
                            " must name a file inside APP_DIR without \".\", \"..\" or empty parts");
        }
        if (end == std::u16string::npos) {
            break;
        }
        start = end + 1;
    }
    if (name.size() > max_entry_name_units) {
        throw ToolError("--exe " + shown_exe + " is longer than " + std::to_string(max_entry_name_units) +
                        " UTF-16 units");
    }
    return name;
}

std::vector<AppFile> scan_app_folder(const fs::path& app_dir, const ScanSettings& settings) {
    std::optional<std::u16string> exe_name;
    if (settings.exe) {
        exe_name = entry_name_from_option(*settings.exe);
        refuse_excluded_executable(settings, *exe_name);
    }

    std::error_code error;
    if (!fs::is_directory(app_dir, error)) {
        throw ToolError("the app folder " + shown_path(app_dir) + " does not exist or is no folder");
    }
    Walk walk;
    walk.settings = &settings;
    walk.root = real_path(app_dir, error);
    if (error) {
        throw ToolError("cannot read the folder " + shown_path(app_dir) + ": " + error.message());
    }
    walk_folder(walk, app_dir, walk.root, u"");

    std::sort(walk.files.begin(), walk.files.end(),
              [](const AppFile& a, const AppFile& b) { return a.name < b.name; });
    refuse_case_clashes(walk.files);

    std::vector<AppFile>::iterator first;
    if (exe_name) {
        first = std::find_if(walk.files.begin(), walk.files.end(),
                             [&](const AppFile& file) { return file.name == *exe_name; });
        if (first == walk.files.end()) {
            throw ToolError("--exe " + shown_text(*settings.exe) + ": no such file in " +
                            shown_path(app_dir));
        }
    } else {
        std::vector<std::vector<AppFile>::iterator> candidates;
        for (auto it = walk.files.begin(); it != walk.files.end(); ++it) {
            if (is_top_level_exe(it->name)) {
                candidates.push_back(it);
            }
        }
        if (candidates.empty() && !walk.excluded_executables.empty()) {
            const auto& [name, pattern] = walk.excluded_executables.front();
            throw ToolError("no .exe file at the top of " + shown_path(app_dir) + " but " + shown_name(name) +
                            ", which --exclude \"" + shown_text(pattern) +
                            "\" leaves out; the first entry is always packed");
        }
        if (candidates.empty()) {
            throw ToolError("no .exe file at the top of " + shown_path(app_dir) +
                            "; name the program with --exe");
        }
        if (candidates.size() > 1) {
            std::string names;
            for (auto it : candidates) {
                names += (names.empty() ? "" : ", ") + shown_name(it->name);
            }
            throw ToolError("several .exe files at the top of " + shown_path(app_dir) + " (" + names +
                            "); choose one with --exe");
        }
        first = candidates.front();
    }
    std::rotate(walk.files.begin(), first, first + 1);
    return std::move(walk.files);
}
