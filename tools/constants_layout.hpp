#pragma once

#include <cstddef>
#include <string_view>

// How `talvik list` finds the build constants in a stripped image. The generated
// constants object starts its .rdata with an index: the 16-byte tag below, then six
// little-endian 64-bit offsets, each counted from the tag's first byte, of the path
// template, company name, product name and version string (UTF-16, NUL-terminated),
// the attached data and its 64-bit length. The index and the constants form one input
// section, so the linker keeps them together in this order, and the index starts at a
// 16-byte boundary of the image's .rdata. The first such tag in .rdata is the index;
// the attached data, which might hold the same bytes, always comes after it.
constexpr std::string_view constants_index_tag = "TALVIK-CONSTANTS";
constexpr std::size_t constants_index_alignment = 16;

enum ConstantsIndexSlot : std::size_t {
    index_path_template,
    index_company_name,
    index_product_name,
    index_version_string,
    index_attached_data,
    index_attached_data_length,
    constants_index_slots
};

constexpr std::size_t constants_index_size = constants_index_tag.size() + constants_index_slots * 8;
