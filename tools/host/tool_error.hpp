#pragma once

#include <stdexcept>

// A failure of talvik's own input or work: shown as the single line
// "talvik: error: <what>" on stderr, with exit status 1. Names and paths in it are
// given through shown_text, shown_name or shown_path (unicode_text.hpp), so that it stays
// one line.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
