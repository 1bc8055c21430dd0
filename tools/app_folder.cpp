#include "tools/app_folder.hpp"

#include "tools/report.hpp"
#include "tools/text.hpp"

#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct Walk {
    fs::path root;                   // canonical app_dir
    std::vector<fs::path> open_dirs; // canonical folders on the way down, to refuse loops
    std::vector<AppFile> files;
};

bool refused_in_name(char16_t unit) {
    return unit < 0x20 || std::u16string_view(u"<>:\"|?*\\").find(unit) != std::u16string_view::npos;
}

// Windows opens a device for these names whatever the extension ("nul.txt" too).
bool is_device_name(std::u16string_view component) {
    std::u16string base(component.substr(0, component.find(u'.')));
    for (char16_t& unit : base)
        if (unit >= u'a' && unit <= u'z')
            unit = unit - (u'a' - u'A');
    if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL")
        return true;
    return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) && base[3] >= u'1' &&
           base[3] <= u'9';
}

bool is_inside(const fs::path& path, const fs::path& root) {
    auto [root_end, path_it] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return root_end == root.end();
}

std::string shown(const fs::path& path) {
    return path.string();
}

std::u16string append_component(const std::u16string& parent, const fs::path& leaf, const fs::path& full) {
    std::u16string component = utf8_to_utf16(leaf.string(), "the file name " + shown(full));
    for (char16_t unit : component)
        if (refused_in_name(unit))
            throw ToolError("the file name " + shown(full) +
                            " has a character that Windows file names cannot hold");
    // Windows drops a trailing dot or blank, so the file would land under another name.
    if (component.back() == u'.' || component.back() == u' ')
        throw ToolError("the file name " + shown(full) + " ends with a dot or a blank, which Windows drops");
    if (is_device_name(component))
        throw ToolError("the file name " + shown(full) + " is a device name on Windows");
    std::u16string name = parent.empty() ? component : parent + u"\\" + component;
    if (name.size() > max_entry_name_units)
        throw ToolError("the name " + shown(full) + " is longer than " +
                        std::to_string(max_entry_name_units) + " UTF-16 units");
    return name;
}

void add_file(Walk& walk, const fs::path& path, const fs::path& target, const std::u16string& name) {
    std::ifstream probe(target, std::ios::binary);
    if (!probe)
        throw ToolError("cannot read " + shown(path));
    std::error_code error;
    std::uintmax_t size = fs::file_size(target, error);
    if (error)
        throw ToolError("cannot read " + shown(path) + ": " + error.message());
    walk.files.push_back({name, target, size});
}

void walk_folder(Walk& walk, const fs::path& folder, const fs::path& real_folder,
                 const std::u16string& prefix) {
    std::vector<fs::path> children;
    std::error_code error;
    for (fs::directory_iterator it(real_folder, error), end; !error && it != end; it.increment(error))
        children.push_back(it->path().filename());
    if (error)
        throw ToolError("cannot read the folder " + shown(folder) + ": " + error.message());

    walk.open_dirs.push_back(real_folder);
    for (const fs::path& leaf : children) {
        fs::path path = folder / leaf;
        fs::path real_path = real_folder / leaf;
        std::u16string name = append_component(prefix, leaf, path);
        fs::file_status status = fs::symlink_status(real_path, error);
        if (error)
            throw ToolError("cannot read " + shown(path) + ": " + error.message());
        fs::path target = real_path;
        if (fs::is_symlink(status)) {
            target = fs::canonical(real_path, error);
            if (error)
                throw ToolError("the symbolic link " + shown(path) + " leads nowhere: " + error.message());
            if (!is_inside(target, walk.root))
                throw ToolError("the symbolic link " + shown(path) + " leads out of the app folder, to " +
                                shown(target));
            status = fs::status(target, error);
            if (error)
                throw ToolError("cannot read " + shown(path) + ": " + error.message());
        }
        if (fs::is_directory(status)) {
            if (std::find(walk.open_dirs.begin(), walk.open_dirs.end(), target) != walk.open_dirs.end())
                throw ToolError("the symbolic link " + shown(path) + " makes a loop");
            walk_folder(walk, path, target, name);
        } else if (fs::is_regular_file(status)) {
            add_file(walk, path, target, name);
        } else {
            throw ToolError(shown(path) + " is not a regular file");
        }
    }
    walk.open_dirs.pop_back();
}

std::u16string ascii_lower(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& unit : lower)
        if (unit >= u'A' && unit <= u'Z')
            unit = unit + (u'a' - u'A');
    return lower;
}

bool is_top_level_exe(const std::u16string& name) {
    return name.find(u'\\') == std::u16string::npos && name.size() > 4 &&
           ascii_lower(name).ends_with(u".exe");
}

} // namespace

std::u16string entry_name_from_option(std::string_view exe) {
    std::u16string name = utf8_to_utf16(exe, "--exe");
    std::string shown_exe(exe);
    for (char16_t& unit : name)
        if (unit == u'/')
            unit = u'\\';
    if (name.empty())
        throw ToolError("--exe is empty");
    if (name.find(u':') != std::u16string::npos)
        throw ToolError("--exe " + shown_exe + " has a drive or a colon; name a file relative to APP_DIR");
    if (name.front() == u'\\')
        throw ToolError("--exe " + shown_exe + " starts with a separator; name a file relative to APP_DIR");
    std::size_t start = 0;
    while (true) {
        std::size_t end = name.find(u'\\', start);
        std::u16string_view component = std::u16string_view(name).substr(
            start, end == std::u16string::npos ? std::u16string::npos : end - start);
        if (component.empty() || component == u"." || component == u"..")
            throw ToolError("--exe " + shown_exe +
                            " must name a file inside APP_DIR without \".\", \"..\" or empty parts");
        if (end == std::u16string::npos)
            break;
        start = end + 1;
    }
    if (name.size() > max_entry_name_units)
        throw ToolError("--exe " + shown_exe + " is longer than " + std::to_string(max_entry_name_units) +
                        " UTF-16 units");
    return name;
}

std::vector<AppFile> scan_app_folder(const fs::path& app_dir, const std::optional<std::string>& exe) {
    std::optional<std::u16string> exe_name;
    if (exe)
        exe_name = entry_name_from_option(*exe);

    std::error_code error;
    if (!fs::is_directory(app_dir, error))
        throw ToolError("the app folder " + shown(app_dir) + " does not exist or is no folder");
    Walk walk;
    walk.root = fs::canonical(app_dir, error);
    if (error)
        throw ToolError("cannot read the folder " + shown(app_dir) + ": " + error.message());
    walk_folder(walk, app_dir, walk.root, u"");

    std::sort(walk.files.begin(), walk.files.end(),
              [](const AppFile& a, const AppFile& b) { return a.name < b.name; });
    std::map<std::u16string, const AppFile*> folded;
    for (const AppFile& file : walk.files) {
        auto [it, added] = folded.emplace(ascii_lower(file.name), &file);
        if (!added)
            throw ToolError("the names " + utf16_to_utf8(it->second->name) + " and " +
                            utf16_to_utf8(file.name) +
                            " differ only in case, which Windows does not tell apart");
    }

    std::vector<AppFile>::iterator first;
    if (exe_name) {
        first = std::find_if(walk.files.begin(), walk.files.end(),
                             [&](const AppFile& file) { return file.name == *exe_name; });
        if (first == walk.files.end())
            throw ToolError("--exe " + *exe + ": no such file in " + shown(app_dir));
    } else {
        std::vector<std::vector<AppFile>::iterator> candidates;
        for (auto it = walk.files.begin(); it != walk.files.end(); ++it)
            if (is_top_level_exe(it->name))
                candidates.push_back(it);
        if (candidates.empty())
            throw ToolError("no .exe file at the top of " + shown(app_dir) + "; name the program with --exe");
        if (candidates.size() > 1) {
            std::string names;
            for (auto it : candidates)
                names += (names.empty() ? "" : ", ") + utf16_to_utf8(it->name);
            throw ToolError("several .exe files at the top of " + shown(app_dir) + " (" + names +
                            "); choose one with --exe");
        }
        first = candidates.front();
    }
    std::rotate(walk.files.begin(), first, first + 1);
    return std::move(walk.files);
}
