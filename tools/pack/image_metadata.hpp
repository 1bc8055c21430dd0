#pragma once

#include "resources/version_block.hpp"
#include "tools/pack/pack_options.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// What an image says about its application: the build constants that the launcher reads
// and the texts of its version block.
struct ImageMetadata {
    // When template_names_identity is set, it ends in identity_placeholder: see
    // image_path_template.
    std::u16string path_template;
    bool template_names_identity = false;
    std::u16string company;
    std::u16string product;
    std::u16string version;
    VersionTexts version_texts;
};

constexpr std::string_view default_version = "1.0.0.0";

// Without a version, the default template's last folder is this many leading hex digits of
// the image's identity (a hash of its attached data): different contents never share a
// tree, and the same contents always do.
constexpr std::size_t identity_folder_length = 12;

// Stands for that folder until the attached data is written. It is as long as the folder,
// so the constants keep their size, and no Windows name can hold "?".
constexpr std::u16string_view identity_placeholder = u"????????????";
static_assert(identity_placeholder.size() == identity_folder_length);

// The identity's folder: its first identity_folder_length lowercase hex digits.
std::u16string identity_folder(std::uint64_t identity);

// The template an image of this identity gets: the metadata's own, with the identity's
// folder in place of the placeholder when the template names it.
std::u16string image_path_template(const ImageMetadata& metadata, std::uint64_t identity);

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

// The same with last_folder instead of the version's folder.
std::u16string default_path_template_with_folder(std::u16string_view company, std::u16string_view product,
                                                 std::u16string_view last_folder);

// The product with blanks turned into "-": the stem of OriginalFilename and InternalName.
std::u16string product_file_stem(std::u16string_view product);

// Options with their defaults: product = fallback_product (the app folder's name),
// company = product, version 1.0.0.0 (a given one normalised by version_text), template
// as above when a version is given and otherwise the same with the identity's folder
// last, FileDescription = product, LegalCopyright = "Copyright (C) " + company,
// OriginalFilename = stem + ".exe", InternalName = stem.
ImageMetadata resolve_image_metadata(const PackOptions& options, const std::string& fallback_product);
