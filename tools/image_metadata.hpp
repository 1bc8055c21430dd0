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

// 1 to 4 decimal numbers 0..65535 with dots between ("1", "1.2", "1.2.3", "1.2.3.4"),
// leading zeros allowed; missing numbers are 0. Anything else throws ToolError.
std::array<std::uint16_t, 4> parse_version(std::string_view text);

// "A.B.C.D" without leading zeros: the text that the version tokens and the version
// block's strings hold ("01.2.3" gives "1.2.3.0").
std::string version_text(const std::array<std::uint16_t, 4>& numbers);

// {CACHE_DIR}\ + company without blanks + \ + product with blanks as "-" + \ + the first
// two version fields: "Fernwick Studio", "Orrin Deck", "1.20.0.0" give
// "{CACHE_DIR}\FernwickStudio\Orrin-Deck\1.20". Throws ToolError when the company or
// product gives an empty directory name, one with characters Windows or the template
// cannot take (<>:"/\|?*{} and control characters), or a device name (CON, NUL, ...).
std::u16string default_path_template(std::u16string_view company, std::u16string_view product,
                                     std::string_view version);

// The product with blanks turned into "-": the stem of OriginalFilename and InternalName.
std::u16string product_file_stem(std::u16string_view product);

// Options with their defaults: product = fallback_product (the app folder's name),
// company = product, version 1.0.0.0 (a given one normalised by version_text), template
// as above, FileDescription = product, LegalCopyright = "Copyright (C) " + company,
// OriginalFilename = stem + ".exe", InternalName = stem.
ImageMetadata resolve_image_metadata(const PackOptions& options, const std::string& fallback_product);
