// Writes talvik's manual page to the file named by its one argument (a build step).
#include "tools/cli/man_page.hpp"
#include "tools/cli/version.hpp"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: talvik-man-page OUTPUT\n", stderr);
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << manual_page(talvik_version);
    return out.flush() ? 0 : 1;
}
