#pragma once

#include <filesystem>
#include <ostream>

// `talvik list`: the constants, then one line per entry (size, stored CRC-32, name) as the
// attached data decodes, then a count. Every body is decoded and checked against its
// checksum; on a terminal a progress line shows the decoding. Reads only a regular file of
// at most max_image_file_size. Throws ToolError for unreadable or malformed images (after
// the entries listed so far), a name a launcher refuses, output that cannot be written, and
// entries whose body does not match its checksum (after listing them).
//
// As JSON (docs/json.md), the same in one document, written entry by entry as well.
enum class ListFormat { text, json };
void list_image(const std::filesystem::path& image_file, std::ostream& out, ListFormat format);
