#include "tools/image/pe_file.hpp"

#include "resources/byte_writer.hpp"
#include "tools/host/tool_error.hpp"

#include <algorithm>
#include <fstream>

namespace {

constexpr std::size_t dos_header_size = 64;
constexpr std::size_t e_lfanew_offset = 0x3C;
constexpr std::size_t coff_header_size = 20;
constexpr std::size_t pe32_plus_directories_offset = pe_field::data_directories;
constexpr unsigned char pe_signature[4] = {'P', 'E', 0, 0};

} // namespace

PeImage parse_pe_image(std::span<const unsigned char> file) {
    auto fail = []() { return ToolError("not a PE image"); };
    if (file.size() < dos_header_size || file[0] != 'M' || file[1] != 'Z') {
        throw fail();
    }
    std::size_t pe_offset = get_u32(file.data() + e_lfanew_offset);
    if (pe_offset > file.size() || file.size() - pe_offset < 4 + coff_header_size ||
        !std::equal(std::begin(pe_signature), std::end(pe_signature),
                    file.begin() + static_cast<std::ptrdiff_t>(pe_offset))) {
        throw fail();
    }
    const unsigned char* coff = file.data() + pe_offset + 4;
    PeImage image;
    image.pe_offset = pe_offset;
    image.machine = get_u16(coff);
    std::uint16_t section_count = get_u16(coff + 2);
    std::uint16_t optional_size = get_u16(coff + 16);
    image.characteristics = get_u16(coff + 18);
    std::size_t optional_offset = pe_offset + 4 + coff_header_size;
    std::size_t sections_offset = optional_offset + optional_size;
    image.optional_offset = optional_offset;
    image.section_table_offset = sections_offset;
    if (sections_offset + std::size_t{section_count} * section_header_size > file.size()) {
        throw fail();
    }
    const unsigned char* optional = file.data() + optional_offset;
    if (optional_size >= 2) {
        image.optional_magic = get_u16(optional);
    }
    if (image.optional_magic == pe32_plus_magic && optional_size >= pe32_plus_directories_offset) {
        image.size_of_initialized_data = get_u32(optional + pe_field::size_of_initialized_data);
        image.section_alignment = get_u32(optional + 32);
        image.file_alignment = get_u32(optional + 36);
        image.size_of_image = get_u32(optional + pe_field::size_of_image);
        image.size_of_headers = get_u32(optional + 60);
        image.checksum = get_u32(optional + pe_field::checksum);
        image.subsystem = get_u16(optional + pe_field::subsystem);
        image.dll_characteristics = get_u16(optional + 70);
        image.stack_reserve = get_u64(optional + 72);
        image.stack_commit = get_u64(optional + 80);
        image.heap_reserve = get_u64(optional + 88);
        image.heap_commit = get_u64(optional + 96);
        std::uint32_t directory_count = get_u32(optional + 108);
        for (std::uint32_t i = 0;
             i < directory_count && pe32_plus_directories_offset + (i + 1) * 8 <= optional_size; ++i) {
            image.data_directories.push_back({get_u32(optional + pe32_plus_directories_offset + i * 8),
                                              get_u32(optional + pe32_plus_directories_offset + i * 8 + 4)});
        }
    }
    for (std::uint16_t i = 0; i < section_count; ++i) {
        const unsigned char* header = file.data() + sections_offset + i * section_header_size;
        PeSection section;
        std::size_t name_length = 0;
        while (name_length < 8 && header[name_length] != 0) {
            ++name_length;
        }
        section.name.assign(reinterpret_cast<const char*>(header), name_length);
        section.virtual_size = get_u32(header + 8);
        section.virtual_address = get_u32(header + 12);
        section.raw_size = get_u32(header + 16);
        section.raw_pointer = get_u32(header + 20);
        section.characteristics = get_u32(header + 36);
        if (std::uint64_t{section.raw_pointer} + section.raw_size > file.size()) {
            throw ToolError("a section of the PE image reaches past the end of the file");
        }
        image.sections.push_back(section);
    }
    return image;
}

std::span<const unsigned char> pe_bytes_from(std::span<const unsigned char> file, const PeImage& image,
                                             std::uint32_t virtual_address) {
    for (const PeSection& section : image.sections) {
        if (virtual_address >= section.virtual_address &&
            virtual_address - section.virtual_address < section.raw_size) {
            std::uint32_t into = virtual_address - section.virtual_address;
            return file.subspan(section.raw_pointer + into, section.raw_size - into);
        }
    }
    return {};
}

bool has_pe_signature(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char dos[dos_header_size];
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return false;
    }
    unsigned char signature[4];
    in.seekg(get_u32(dos + e_lfanew_offset));
    if (!in.read(reinterpret_cast<char*>(signature), sizeof signature)) {
        return false;
    }
    return std::equal(std::begin(signature), std::end(signature), std::begin(pe_signature));
}
