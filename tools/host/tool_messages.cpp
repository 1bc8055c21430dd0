#include "tools/host/tool_messages.hpp"

#include "tools/host/unicode_text.hpp"

#include <array>
#include <cstdio>

void print_warning(const std::string& text) {
    std::fprintf(stderr, "talvik: warning: %s\n", shown_text(text).c_str());
}

std::string size_text(std::uint64_t bytes) {
    constexpr std::array<const char*, 4> units = {"KiB", "MiB", "GiB", "TiB"};
    constexpr double unit_factor = 1024.0;
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    double value = static_cast<double>(bytes) / unit_factor;
    std::size_t unit = 0;
    // 1023.95 KiB and up would print as "1024.0 KiB".
    while (value >= unit_factor - 0.05 && unit + 1 < units.size()) {
        value /= unit_factor;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}
