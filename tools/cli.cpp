#include "tools/cli.hpp"

#include "tools/image_list.hpp"
#include "tools/pack.hpp"
#include "tools/pack_options.hpp"
#include "tools/report.hpp"
#include "tools/usage.hpp"
#include "tools/version.hpp"

#include <cstdio>
#include <exception>
#include <iostream>

namespace {

void run_list(const std::vector<std::string>& args) {
    if (args.size() == 2 && (args[1] == "-h" || args[1] == "--help")) {
        std::fputs(talvik_usage, stdout);
        return;
    }
    if (args.size() != 2 || args[1].empty())
        throw ToolError("usage: talvik list IMAGE.exe");
    list_image(args[1], std::cout);
}

} // namespace

int run_talvik(const std::vector<std::string>& args) {
    try {
        if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
            std::fputs(talvik_usage, args.empty() ? stderr : stdout);
            return args.empty() ? 1 : 0;
        }
        if (args[0] == "--version") {
            if (args.size() != 1)
                throw ToolError("usage: talvik --version");
            std::printf("talvik %s\n", talvik_version);
            return 0;
        }
        if (args[0] == "pack") {
            PackOptions options = parse_pack_options({args.begin() + 1, args.end()});
            if (options.help)
                std::fputs(pack_usage, stdout);
            else
                run_pack(options);
            return 0;
        }
        if (args[0] == "list") {
            run_list(args);
            return 0;
        }
        throw ToolError("unknown command \"" + args[0] + "\" (see talvik --help)");
    } catch (const std::exception& error) {
        std::cout.flush();
        std::fprintf(stderr, "talvik: error: %s\n", error.what());
        return 1;
    }
}
