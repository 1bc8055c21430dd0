#include "tools/pack/pack_options.hpp"

#include "tools/host/platform.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"

#include <algorithm>
#include <charconv>
#include <utility>

namespace {

int parse_number(const std::string& option, const std::string& text, int low, int high) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        throw ToolError(option + " wants a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not \"" + shown_text(text) + "\"");
    }
    return value;
}

std::filesystem::path file_value(const std::string& shown, const std::string& value) {
    if (value.empty()) {
        throw ToolError(shown + " wants a file name");
    }
    return path_from_utf8(value);
}

std::uint32_t reuse_check_value(const std::string& mode) {
    if (mode == "crc") {
        return reuse_check_crc;
    }
    if (mode == "metadata") {
        return reuse_check_metadata;
    }
    throw ToolError("--reuse-check wants crc or metadata, not \"" + shown_text(mode) + "\"");
}

std::uint32_t old_trees_value(const std::string& choice) {
    if (choice == "remove") {
        return old_trees_remove;
    }
    if (choice == "keep") {
        return old_trees_keep;
    }
    throw ToolError("--old-trees wants remove or keep, not \"" + shown_text(choice) + "\"");
}

// One option of `talvik pack`. Messages name an option as typed, except that a repeat is
// named by `shown` (-o, however the output was given).
enum class Value { none, ignored, wanted };

struct OptionRule {
    const char* name;
    const char* short_name; // or nullptr
    Value value;
    bool repeatable;
    void (*apply)(PackOptions& options, const std::string& typed, const std::string& value);
    const char* shown = nullptr; // defaults to name
};

using O = PackOptions;
using S = const std::string&;
constexpr OptionRule option_rules[] = {
    {"--help", "-h", Value::ignored, true, [](O& o, S, S) { o.help = true; }},
    {"--quiet", "-q", Value::none, true, [](O& o, S, S) { o.quiet = true; }},
    {"--json", nullptr, Value::none, true, [](O& o, S, S) { o.json = true; }},
    {"--windowed", nullptr, Value::none, true, [](O& o, S, S) { o.windowed = true; }},
    {"--child-outlives-launcher", nullptr, Value::none, true,
     [](O& o, S, S) { o.child_lifetime = child_outlives_launcher; }},
    {"--no-progress", nullptr, Value::none, true,
     [](O& o, S, S) { o.progress_window = progress_window_off; }},
    {"--output", "-o", Value::wanted, false, [](O& o, S, S v) { o.output = file_value("-o", v); }, "-o"},
    {"--exe", nullptr, Value::wanted, false, [](O& o, S, S v) { o.exe = v; }},
    {"--company", nullptr, Value::wanted, false, [](O& o, S, S v) { o.company = v; }},
    {"--product", nullptr, Value::wanted, false, [](O& o, S, S v) { o.product = v; }},
    {"--version", nullptr, Value::wanted, false, [](O& o, S, S v) { o.version = v; }},
    {"--template", nullptr, Value::wanted, false, [](O& o, S, S v) { o.path_template = v; }},
    {"--copyright", nullptr, Value::wanted, false, [](O& o, S, S v) { o.copyright = v; }},
    {"--icon", nullptr, Value::wanted, true,
     [](O& o, S, S v) { o.icons.push_back(file_value("--icon", v)); }},
    {"--exclude", nullptr, Value::wanted, true,
     [](O& o, S, S v) { o.excludes.push_back(parse_exclude_pattern(v)); }},
    {"--level", nullptr, Value::wanted, false,
     [](O& o, S t, S v) { o.level = parse_number(t, v, min_compression_level, max_compression_level); }},
    {"--window-log", nullptr, Value::wanted, false,
     [](O& o, S t, S v) { o.window_log = parse_number(t, v, min_window_log, max_window_log); }},
    {"--threads", nullptr, Value::wanted, false,
     [](O& o, S t, S v) { o.threads = parse_number(t, v, 1, max_threads); }},
    {"--reuse-check", nullptr, Value::wanted, false,
     [](O& o, S, S v) { o.reuse_check = reuse_check_value(v); }},
    {"--old-trees", nullptr, Value::wanted, false, [](O& o, S, S v) { o.old_trees = old_trees_value(v); }},
    {"--attached-data", nullptr, Value::wanted, false,
     [](O& o, S, S v) { o.attached_data = file_value("--attached-data", v); }},
};

const OptionRule& find_rule(const std::string& typed) {
    for (const OptionRule& rule : option_rules) {
        if (typed == rule.name || (rule.short_name && typed == rule.short_name)) {
            return rule;
        }
    }
    throw ToolError("unknown option " + shown_text(typed) + " (see talvik pack --help)");
}

// Splits "--name=value" and "-oVALUE"; other arguments are a name alone.
std::pair<std::string, std::optional<std::string>> split_option(const std::string& arg) {
    if (std::size_t equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
        return {arg.substr(0, equals), arg.substr(equals + 1)};
    }
    if (arg.starts_with("-o") && arg.size() > 2) {
        return {"-o", arg.substr(2)};
    }
    return {arg, std::nullopt};
}

// What the options say together, once each has been read.
void check_combinations(PackOptions& options, const std::vector<std::string>& positional) {
    if (positional.size() > 1) {
        throw ToolError("one APP_DIR only, got \"" + shown_text(positional[0]) + "\" and \"" +
                        shown_text(positional[1]) + "\"");
    }
    if (positional.size() == 1) {
        if (positional[0].empty()) {
            throw ToolError("APP_DIR is empty");
        }
        options.app_dir = path_from_utf8(positional[0]);
    }
    if (options.attached_data) {
        if (options.app_dir) {
            throw ToolError("give APP_DIR or --attached-data, not both");
        }
        if (options.exe || options.level || options.window_log || options.threads ||
            !options.excludes.empty()) {
            throw ToolError(
                "--exe, --exclude, --level, --window-log and --threads have no use with --attached-data");
        }
    } else if (!options.app_dir) {
        throw ToolError("no APP_DIR given (see talvik pack --help)");
    }
    if (options.output.empty()) {
        throw ToolError("no output file given: use -o OUT.exe");
    }
}

} // namespace

PackOptions parse_pack_options(const std::vector<std::string>& args) {
    PackOptions options;
    std::vector<std::string> positional;
    std::vector<const OptionRule*> given;
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_ended || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        auto [typed, inline_value] = split_option(arg);
        const OptionRule& rule = find_rule(typed);
        if (!rule.repeatable && std::ranges::find(given, &rule) != given.end()) {
            throw ToolError(std::string(rule.shown ? rule.shown : rule.name) + " is given twice");
        }
        given.push_back(&rule);
        if (rule.value == Value::none && inline_value) {
            throw ToolError(typed + " takes no value");
        }
        if (rule.value == Value::wanted && !inline_value && i + 1 >= args.size()) {
            throw ToolError(typed + " wants a value");
        }
        rule.apply(options, typed,
                   rule.value != Value::wanted ? ""
                   : inline_value              ? *inline_value
                                               : args[++i]);
    }
    if (!options.help) {
        check_combinations(options, positional);
    }
    return options;
}
