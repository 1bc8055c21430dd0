#pragma once

#include "launcher/image_descriptor.hpp"

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <vector>

// The build constants of an image, found through its descriptor.
struct ImageConstants {
    std::u16string path_template;
    std::u16string company_name;
    std::u16string product_name;
    std::u16string version_string;
    std::vector<unsigned char> attached_data;
    std::uint64_t attached_data_identity = 0; // 0: the image predates identities
    std::uint32_t reuse_check = reuse_check_crc;
};

// Throws ToolError when the bytes are no PE image or hold no filled-in descriptor whose
// texts and attached data lie inside the image's sections.
ImageConstants read_image_constants(std::span<const unsigned char> image);

struct ListedEntry {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t checksum = 0; // as stored
    bool checksum_matches = false;
};

// Checks the attached data's header and trailer and decodes its frame, entry by entry.
// Throws ToolError when the block or the entry stream is malformed.
std::vector<ListedEntry> list_attached_data(const std::vector<unsigned char>& attached_data);

// `talvik list`: the constants, then one line per entry (size, stored CRC-32, name),
// then a count. Throws ToolError for unreadable or malformed images and for entries
// whose body does not match its checksum (after listing them).
void list_image(const std::filesystem::path& image_file, std::ostream& out);
