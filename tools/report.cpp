#include "tools/report.hpp"

#include <cstdio>

void print_warning(const std::string& text) {
    std::fprintf(stderr, "talvik: warning: %s\n", text.c_str());
}
