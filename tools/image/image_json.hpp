#pragma once

#include "tools/image/descriptor_fields.hpp"

#include <cstdint>
#include <string>

// What talvik pack --json and talvik list --json both say about an image (docs/json.md).
struct ImageFacts {
    std::uint64_t image_size = 0;
    std::uint64_t attached_data_size = 0;
    std::uint64_t identity = 0; // 0: none, shown as null
    std::u16string path_template;
    std::u16string company;
    std::u16string product;
    std::u16string version;
    std::uint16_t subsystem = 0;
    LauncherSettings settings;
};

// The shared fields, in their documented order, each on a line of its own as
// `  "name": value,`: the caller writes the object's braces and its own fields around them.
// Settings show as stable words (crc, metadata, remove, keep, ends_with_launcher,
// outlives_launcher, when_slow, off, console, windowed), and as "other" for a value that
// talvik does not write.
std::string image_json_fields(const ImageFacts& facts);
