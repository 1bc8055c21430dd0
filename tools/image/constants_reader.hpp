#pragma once

#include "resources/byte_writer.hpp"
#include "tools/image/descriptor_fields.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The build constants of an image, found through its descriptor.
struct ImageConstants : LauncherSettings {
    std::u16string path_template;
    std::u16string company_name;
    std::u16string product_name;
    std::u16string version_string;
    std::vector<unsigned char> attached_data;
    std::uint64_t attached_data_identity = 0; // 0: the image predates identities
};

// Throws ToolError when the bytes are no PE image or hold no filled-in descriptor whose
// texts and attached data lie inside the image's sections.
ImageConstants read_image_constants(std::span<const unsigned char> image);

// The same for an image whose bytes are no longer needed: the attached data is cut out of
// them in place, so that a large image is never held twice.
ImageConstants read_image_constants(Bytes&& image);
