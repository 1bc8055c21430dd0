#pragma once

#include <stdexcept>
#include <string>

// A failure of talvik's own input or work: shown as the single line
// "talvik: error: <what>" on stderr, with exit status 1.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "talvik: warning: <text>" on stderr; the run goes on.
void print_warning(const std::string& text);
