#pragma once

#include "resources/byte_writer.hpp"

#include <array>
#include <cstdint>
#include <string>

struct VersionTexts {
    std::array<std::uint16_t, 4> version{}; // A.B.C.D, file and product version alike
    std::u16string company_name;
    std::u16string product_name;
    std::u16string file_description;
    std::u16string legal_copyright;
    std::u16string product_version;
    std::u16string file_version;
    std::u16string original_filename;
    std::u16string internal_name;
};

constexpr std::uint32_t fixed_file_info_signature = 0xFEEF04BD;
constexpr std::uint32_t fixed_file_info_struc_version = 0x00010000;
constexpr std::uint32_t version_file_flags_mask = 0x3F;
constexpr std::uint32_t vos_windows32 = 4;
constexpr std::uint32_t vft_app = 1;
// Neutral language with code page 1200 (UTF-16): the string table key and the
// Translation value say the same.
constexpr char16_t string_table_key[] = u"000004b0";
constexpr std::uint16_t translation_language = 0x0000;
constexpr std::uint16_t translation_code_page = 0x04B0;

// The RT_VERSION data: VS_VERSION_INFO with its fixed part, one StringFileInfo table of
// the eight strings in the order of VersionTexts, and VarFileInfo's Translation. Each
// string's value length counts bytes including the NUL ("Fernwick Studio" gives 32).
// Throws std::runtime_error when the block outgrows its 16-bit length field.
Bytes write_version_block(const VersionTexts& texts);
