#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// A failure of talvik's own input or work: shown as the single line
// "talvik: error: <what>" on stderr, with exit status 1. Names and paths in it are
// given through shown_text, shown_name or shown_path (text.hpp), so that it stays one line.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "talvik: warning: <text>" on stderr, always one line; the run goes on.
void print_warning(const std::string& text);

// "512 bytes", "1.5 KiB", "12.3 MiB", "2.0 GiB": binary units, named as such.
std::string size_text(std::uint64_t bytes);
