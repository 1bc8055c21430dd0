#pragma once

#include "constants/image_descriptor.hpp"
#include "payload/format.hpp"
#include "tools/app_folder/exclude_pattern.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The command line of `talvik pack`, as given; defaults are filled in later
// (image_metadata.hpp) so that they can depend on each other.
struct PackOptions {
    bool help = false;
    std::optional<std::filesystem::path> app_dir;
    std::filesystem::path output;
    std::optional<std::string> exe;
    std::optional<std::string> company;
    std::optional<std::string> product;
    std::optional<std::string> version;
    std::optional<std::string> path_template;
    std::optional<std::string> copyright;
    std::vector<std::filesystem::path> icons;
    std::vector<ExcludePattern> excludes;
    std::optional<int> level;
    std::optional<int> window_log;
    std::optional<int> threads;
    std::optional<std::filesystem::path> attached_data;
    bool quiet = false;
    bool json = false; // the summary as one JSON document on stdout
    bool windowed = false;
    std::uint32_t reuse_check = reuse_check_crc;
    std::uint32_t old_trees = old_trees_remove;
    std::uint32_t child_lifetime = child_ends_with_launcher;
    std::uint32_t progress_window = progress_window_when_slow;
};

constexpr int default_compression_level = 19;
constexpr int min_compression_level = 1;
constexpr int max_compression_level = 22;
// zstd runs at most this many workers (on 64-bit hosts).
constexpr int max_threads = 256;

// Parses the arguments after "pack". Options take their value as the next argument or
// after "=" (--level=9); -o also straight after it (-oOUT.exe); "--" ends the options. Throws ToolError for
// unknown options, missing or malformed values and wrong
// combinations (APP_DIR with --attached-data).
PackOptions parse_pack_options(const std::vector<std::string>& args);
