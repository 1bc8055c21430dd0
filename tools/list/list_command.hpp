#pragma once

#include <filesystem>
#include <ostream>

// `talvik list`: the constants, then one line per entry (size, stored CRC-32, name),
// then a count. Throws ToolError for unreadable or malformed images and for entries
// whose body does not match its checksum (after listing them).
void list_image(const std::filesystem::path& image_file, std::ostream& out);
