#include "resources/version_block.hpp"

#include <initializer_list>
#include <stdexcept>
#include <utility>

namespace {

constexpr std::uint16_t value_type_binary = 0;
constexpr std::uint16_t value_type_text = 1;
constexpr std::size_t block_alignment = 4;

// Starts a block (wLength, wValueLength, wType, key) and returns its offset, so that
// end_block can fill in wLength once the value and children are written. A block's
// length ends with its last child; the padding after it belongs to the next sibling.
std::size_t begin_block(Bytes& out, std::uint16_t value_length, std::uint16_t type, std::u16string_view key) {
    pad_to(out, block_alignment);
    std::size_t start = out.size();
    put_u16(out, 0);
    put_u16(out, value_length);
    put_u16(out, type);
    put_utf16z(out, key);
    pad_to(out, block_alignment);
    return start;
}

void end_block(Bytes& out, std::size_t start) {
    std::size_t length = out.size() - start;
    if (length > UINT16_MAX) {
        throw std::runtime_error("the version texts are too long for a version block");
    }
    patch_u16(out, start, static_cast<std::uint16_t>(length));
}

void put_fixed_file_info(Bytes& out, const std::array<std::uint16_t, 4>& version) {
    std::uint32_t most = static_cast<std::uint32_t>(version[0]) << 16 | version[1];
    std::uint32_t least = static_cast<std::uint32_t>(version[2]) << 16 | version[3];
    put_u32(out, fixed_file_info_signature);
    put_u32(out, fixed_file_info_struc_version);
    put_u32(out, most); // file version
    put_u32(out, least);
    put_u32(out, most); // product version
    put_u32(out, least);
    put_u32(out, version_file_flags_mask);
    put_u32(out, 0); // flags
    put_u32(out, vos_windows32);
    put_u32(out, vft_app);
    put_u32(out, 0); // subtype
    put_u32(out, 0); // date, most significant
    put_u32(out, 0); // date, least significant
}

constexpr std::uint16_t fixed_file_info_size = 13 * 4;

void put_string(Bytes& out, std::u16string_view key, std::u16string_view value) {
    std::size_t value_bytes = (value.size() + 1) * 2;
    if (value_bytes > UINT16_MAX) {
        throw std::runtime_error("the version texts are too long for a version block");
    }
    std::size_t start = begin_block(out, static_cast<std::uint16_t>(value_bytes), value_type_text, key);
    put_utf16z(out, value);
    end_block(out, start);
}

} // namespace

Bytes write_version_block(const VersionTexts& texts) {
    Bytes out;
    std::size_t root = begin_block(out, fixed_file_info_size, value_type_binary, u"VS_VERSION_INFO");
    put_fixed_file_info(out, texts.version);

    std::size_t string_file_info = begin_block(out, 0, value_type_text, u"StringFileInfo");
    std::size_t table = begin_block(out, 0, value_type_text, string_table_key);
    for (const auto& [key, value] :
         std::initializer_list<std::pair<std::u16string_view, std::u16string_view>>{
             {u"CompanyName", texts.company_name},
             {u"ProductName", texts.product_name},
             {u"FileDescription", texts.file_description},
             {u"LegalCopyright", texts.legal_copyright},
             {u"ProductVersion", texts.product_version},
             {u"FileVersion", texts.file_version},
             {u"OriginalFilename", texts.original_filename},
             {u"InternalName", texts.internal_name}}) {
        put_string(out, key, value);
    }
    end_block(out, table);
    end_block(out, string_file_info);

    std::size_t var_file_info = begin_block(out, 0, value_type_text, u"VarFileInfo");
    std::size_t translation = begin_block(out, 4, value_type_binary, u"Translation");
    put_u16(out, translation_language);
    put_u16(out, translation_code_page);
    end_block(out, translation);
    end_block(out, var_file_info);

    end_block(out, root);
    return out;
}
