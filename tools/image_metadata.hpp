#pragma once

#include "resources/version_block.hpp"
#include "tools/pack_options.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// What an image says about its application: the build constants that the launcher reads
// and the texts of its version block.
struct ImageMetadata {
    std::u16string path_template;
    std::u16string company;
    std::u16string product;
    std::u16string version;
    VersionTexts version_texts;
};

constexpr std::string_view default_version = "1.0.0.0";

// "A.B.C.D", each a decimal number 0..65535; anything else throws ToolError.
std::array<std::uint16_t, 4> parse_version(std::string_view text);

// {CACHE_DIR}\ + company without blanks + \ + product with blanks as "-" + \ + the first
// two version fields: "Fernwick Studio", "Orrin Deck", "1.20.0.0" give
// "{CACHE_DIR}\FernwickStudio\Orrin-Deck\1.20". Throws ToolError when the company or
// product gives an empty directory name or one with characters Windows or the
// template cannot take (<>:"/\|?*{} and control characters).
std::u16string default_path_template(std::u16string_view company, std::u16string_view product,
                                     std::string_view version);

// The product with blanks turned into "-": the stem of OriginalFilename and InternalName.
std::u16string product_file_stem(std::u16string_view product);

// Options with their defaults: product = fallback_product (the app folder's name),
// company = product, version 1.0.0.0, template as above, FileDescription = product,
// LegalCopyright = "Copyright (C) " + company, OriginalFilename = stem + ".exe",
// InternalName = stem.
ImageMetadata resolve_image_metadata(const PackOptions& options, const std::string& fallback_product);
