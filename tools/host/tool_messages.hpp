#pragma once

#include <cstdint>
#include <string>

// "talvik: warning: <text>" on stderr, always one line; the run goes on.
void print_warning(const std::string& text);

// "512 bytes", "1.5 KiB", "12.3 MiB", "2.0 GiB": binary units, named as such.
std::string size_text(std::uint64_t bytes);
