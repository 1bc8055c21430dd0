#include "tools/cli/cli.hpp"

#include "tools/cli/usage.hpp"
#include "tools/cli/version.hpp"
#include "tools/host/platform.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/host/unicode_text.hpp"
#include "tools/list/list_command.hpp"
#include "tools/pack/pack.hpp"
#include "tools/pack/pack_options.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

namespace {

bool is_help(const std::string& arg) {
    return arg == "-h" || arg == "--help";
}

// "talvik list [--json] IMAGE.exe", the option on either side.
void run_list(const std::vector<std::string>& args) {
    if (args.size() == 2 && is_help(args[1])) {
        std::fputs(list_usage, stdout);
        return;
    }
    ListFormat format = ListFormat::text;
    std::vector<std::string> images;
    for (std::size_t at = 1; at < args.size(); ++at) {
        if (args[at] == "--json" && format == ListFormat::text) {
            format = ListFormat::json;
        } else {
            images.push_back(args[at]);
        }
    }
    if (images.size() != 1 || images[0].empty()) {
        throw ToolError("usage: talvik list [--json] IMAGE.exe");
    }
    list_image(path_from_utf8(images[0]), std::cout, format);
}

// "talvik help [COMMAND]".
void run_help(const std::vector<std::string>& args) {
    if (args.size() > 2) {
        throw ToolError("usage: talvik help [pack | list]");
    }
    if (args.size() == 1) {
        std::fputs(talvik_usage, stdout);
    } else if (args[1] == "pack") {
        std::fputs(pack_usage, stdout);
    } else if (args[1] == "list") {
        std::fputs(list_usage, stdout);
    } else {
        throw ToolError("no help for \"" + shown_text(args[1]) + "\": the commands are pack and list");
    }
}

int run_command(const std::vector<std::string>& args) {
    try {
        if (args.empty()) {
            std::fputs(talvik_usage, stderr);
            return 1;
        }
        if (is_help(args[0]) || args[0] == "help") {
            run_help(args);
            return 0;
        }
        if (args[0] == "--version") {
            if (args.size() != 1) {
                throw ToolError("usage: talvik --version");
            }
            std::printf("talvik %s\n", talvik_version);
            return 0;
        }
        if (args[0] == "pack") {
            PackOptions options = parse_pack_options({args.begin() + 1, args.end()});
            if (options.help) {
                std::fputs(pack_usage, stdout);
            } else {
                run_pack(options);
            }
            return 0;
        }
        if (args[0] == "list") {
            run_list(args);
            return 0;
        }
        throw ToolError("unknown command \"" + shown_text(args[0]) + "\" (see talvik --help)");
    } catch (const ToolError& error) {
        std::cout.flush();
        std::fprintf(stderr, "talvik: error: %s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        // Messages from the shared code (producer, resources) may carry a file name.
        std::cout.flush();
        std::fprintf(stderr, "talvik: error: %s\n", shown_text(error.what()).c_str());
        return 1;
    }
}

// A command succeeds only when what it printed reached its stream: a full disk, a closed
// standard output or a failing device shows only when the buffers are flushed. Standard
// error counts too, since pack's summary goes there.
int check_output(int status) {
    int out_error = 0;
    if (std::fflush(stdout) != 0) {
        out_error = errno;
    }
    bool out_failed = out_error != 0 || std::ferror(stdout) || !std::cout;
    bool err_failed = std::fflush(stderr) != 0 || std::ferror(stderr);
    if (status != 0 || (!out_failed && !err_failed)) {
        return status;
    }
    std::string reason = out_error != 0 ? std::string(": ") + std::strerror(out_error) : "";
    std::fprintf(stderr, "talvik: error: cannot write to standard %s%s\n", out_failed ? "output" : "error",
                 reason.c_str());
    return 1;
}

} // namespace

int run_talvik(const std::vector<std::string>& args) {
    return check_output(run_command(args));
}
