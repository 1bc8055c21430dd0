#include "tools/pack_options.hpp"

#include "tools/platform.hpp"
#include "tools/report.hpp"
#include "tools/text.hpp"

#include <charconv>

namespace {

int parse_number(const std::string& option, const std::string& text, int low, int high) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        throw ToolError(option + " wants a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not \"" + shown_text(text) + "\"");
    return value;
}

void set_once(std::optional<std::string>& field, const std::string& option, const std::string& value) {
    if (field)
        throw ToolError(option + " is given twice");
    field = value;
}

void set_once(std::optional<std::filesystem::path>& field, const std::string& option,
              const std::string& value) {
    if (field)
        throw ToolError(option + " is given twice");
    if (value.empty())
        throw ToolError(option + " wants a file name");
    field = path_from_utf8(value);
}

} // namespace

PackOptions parse_pack_options(const std::vector<std::string>& args) {
    PackOptions options;
    bool output_given = false;
    bool reuse_check_given = false;
    bool options_ended = false;
    std::vector<std::string> positional;
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
        std::string name = arg;
        std::optional<std::string> inline_value;
        if (std::size_t equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
            name = arg.substr(0, equals);
            inline_value = arg.substr(equals + 1);
        } else if (arg.starts_with("-o") && arg.size() > 2) {
            name = "-o";
            inline_value = arg.substr(2);
        }
        if (name == "-h" || name == "--help") {
            options.help = true;
            continue;
        }
        if (name == "--quiet" || name == "-q" || name == "--windowed") {
            if (inline_value)
                throw ToolError(name + " takes no value");
            if (name == "--windowed")
                options.windowed = true;
            else
                options.quiet = true;
            continue;
        }
        auto value = [&]() -> std::string {
            if (inline_value)
                return *inline_value;
            if (i + 1 >= args.size())
                throw ToolError(name + " wants a value");
            return args[++i];
        };
        if (name == "-o" || name == "--output") {
            if (output_given)
                throw ToolError("-o is given twice");
            options.output = path_from_utf8(value());
            output_given = true;
            if (options.output.empty())
                throw ToolError("-o wants a file name");
        } else if (name == "--exe") {
            set_once(options.exe, name, value());
        } else if (name == "--company") {
            set_once(options.company, name, value());
        } else if (name == "--product") {
            set_once(options.product, name, value());
        } else if (name == "--version") {
            set_once(options.version, name, value());
        } else if (name == "--template") {
            set_once(options.path_template, name, value());
        } else if (name == "--copyright") {
            set_once(options.copyright, name, value());
        } else if (name == "--icon") {
            std::string file = value();
            if (file.empty())
                throw ToolError("--icon wants a file name");
            options.icons.push_back(path_from_utf8(file));
        } else if (name == "--exclude") {
            options.excludes.push_back(parse_exclude_pattern(value()));
        } else if (name == "--level") {
            if (options.level)
                throw ToolError("--level is given twice");
            options.level = parse_number(name, value(), min_compression_level, max_compression_level);
        } else if (name == "--window-log") {
            if (options.window_log)
                throw ToolError("--window-log is given twice");
            options.window_log = parse_number(name, value(), min_window_log, max_window_log);
        } else if (name == "--threads") {
            if (options.threads)
                throw ToolError("--threads is given twice");
            options.threads = parse_number(name, value(), 1, max_threads);
        } else if (name == "--reuse-check") {
            if (reuse_check_given)
                throw ToolError("--reuse-check is given twice");
            reuse_check_given = true;
            std::string mode = value();
            if (mode == "crc")
                options.reuse_check = reuse_check_crc;
            else if (mode == "metadata")
                options.reuse_check = reuse_check_metadata;
            else
                throw ToolError("--reuse-check wants crc or metadata, not \"" + shown_text(mode) + "\"");
        } else if (name == "--attached-data") {
            set_once(options.attached_data, name, value());
        } else {
            throw ToolError("unknown option " + shown_text(name) + " (see talvik pack --help)");
        }
    }
    if (options.help)
        return options;

    if (positional.size() > 1)
        throw ToolError("one APP_DIR only, got \"" + shown_text(positional[0]) + "\" and \"" +
                        shown_text(positional[1]) + "\"");
    if (positional.size() == 1) {
        if (positional[0].empty())
            throw ToolError("APP_DIR is empty");
        options.app_dir = path_from_utf8(positional[0]);
    }
    if (options.attached_data) {
        if (options.app_dir)
            throw ToolError("give APP_DIR or --attached-data, not both");
        if (options.exe || options.level || options.window_log || options.threads ||
            !options.excludes.empty())
            throw ToolError(
                "--exe, --exclude, --level, --window-log and --threads have no use with --attached-data");
    } else if (!options.app_dir) {
        throw ToolError("no APP_DIR given (see talvik pack --help)");
    }
    if (!output_given)
        throw ToolError("no output file given: use -o OUT.exe");
    return options;
}
