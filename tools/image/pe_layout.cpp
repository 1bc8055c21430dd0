#include "tools/image/pe_layout.hpp"

#include "resources/byte_writer.hpp"
#include "tools/host/tool_error.hpp"

#include <cstring>

namespace {

// Initialised data, readable: no write or execute.
constexpr std::uint32_t read_only_data = 0x40000040;
// Texts are UTF-16 and the attached data may have any length.
constexpr std::uint32_t constants_alignment = 8;

std::uint64_t align_up(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

std::uint64_t stub_file_end(const PeImage& stub) {
    std::uint64_t end = stub.size_of_headers;
    for (const PeSection& section : stub.sections) {
        if (section.raw_size > 0) {
            end = std::max<std::uint64_t>(end, std::uint64_t{section.raw_pointer} + section.raw_size);
        }
    }
    return end;
}

void put_section_header(std::span<unsigned char> bytes, std::size_t offset, const char* name,
                        const SectionPlace& place) {
    std::memset(bytes.data() + offset, 0, section_header_size);
    std::memcpy(bytes.data() + offset, name, std::strlen(name));
    patch_u32(bytes, offset + 8, place.virtual_size);
    patch_u32(bytes, offset + 12, place.virtual_address);
    patch_u32(bytes, offset + 16, place.raw_size);
    patch_u32(bytes, offset + 20, place.raw_pointer);
    patch_u32(bytes, offset + 36, read_only_data);
}

} // namespace

std::uint32_t attached_data_file_offset(const PeImage& stub) {
    return static_cast<std::uint32_t>(align_up(stub_file_end(stub), file_page_size));
}

std::uint32_t attached_data_rva(const PeImage& stub) {
    return static_cast<std::uint32_t>(align_up(stub.size_of_image, stub.section_alignment));
}

std::uint64_t max_attached_data_length(const PeImage& stub, std::size_t constants_size,
                                       std::size_t resources_size) {
    // The image ends with .rsrc, page-aligned in memory, after .talvik, whose constants
    // start at the next 8-byte boundary after the attached data.
    std::uint64_t resources_pages = align_up(resources_size, stub.section_alignment);
    std::uint64_t taken = std::uint64_t{attached_data_rva(stub)} + constants_size + resources_pages;
    if (taken >= max_image_size) {
        return 0;
    }
    return (max_image_size - taken) / constants_alignment * constants_alignment;
}

ImageLayout lay_out_image(const PeImage& stub, std::uint64_t attached_data_length, std::size_t constants_size,
                          std::size_t resources_size) {
    if (attached_data_length > max_attached_data_length(stub, constants_size, resources_size)) {
        throw ToolError("the attached data (" + std::to_string(attached_data_length) +
                        " bytes) is too large for a launcher image: at most " +
                        std::to_string(max_attached_data_length(stub, constants_size, resources_size)) +
                        " bytes fit in the " + std::to_string(max_image_size) + " bytes a PE image may take");
    }
    ImageLayout layout;
    layout.attached_data_length = attached_data_length;
    std::uint64_t constants_offset = align_up(attached_data_length, constants_alignment);
    std::uint64_t data_size = constants_offset + constants_size;
    layout.data.raw_pointer = attached_data_file_offset(stub);
    layout.data.virtual_address = attached_data_rva(stub);
    layout.data.virtual_size = static_cast<std::uint32_t>(data_size);
    layout.data.raw_size = static_cast<std::uint32_t>(align_up(data_size, stub.file_alignment));
    layout.constants_rva = static_cast<std::uint32_t>(layout.data.virtual_address + constants_offset);

    layout.resources.raw_pointer = layout.data.raw_pointer + layout.data.raw_size;
    layout.resources.virtual_address =
        static_cast<std::uint32_t>(align_up(layout.data.virtual_address + data_size, stub.section_alignment));
    layout.resources.virtual_size = static_cast<std::uint32_t>(resources_size);
    layout.resources.raw_size = static_cast<std::uint32_t>(align_up(resources_size, stub.file_alignment));
    layout.size_of_image = static_cast<std::uint32_t>(
        align_up(std::uint64_t{layout.resources.virtual_address} + resources_size, stub.section_alignment));
    layout.file_size = std::uint64_t{layout.resources.raw_pointer} + layout.resources.raw_size;
    return layout;
}

void rewrite_headers(std::span<unsigned char> image_start, const PeImage& stub, const ImageLayout& layout) {
    std::size_t table_end = stub.section_table_offset + stub.sections.size() * section_header_size;
    put_section_header(image_start, table_end, data_section_name, layout.data);
    put_section_header(image_start, table_end + section_header_size, resource_section_name, layout.resources);

    std::size_t coff = stub.pe_offset + 4;
    std::uint16_t sections = static_cast<std::uint16_t>(stub.sections.size() + 2);
    patch_u16(image_start, coff + pe_field::number_of_sections, sections);

    std::size_t optional = stub.optional_offset;
    patch_u32(image_start, optional + pe_field::size_of_initialized_data,
              stub.size_of_initialized_data + layout.data.raw_size + layout.resources.raw_size);
    patch_u32(image_start, optional + pe_field::size_of_image, layout.size_of_image);
    patch_u32(image_start, optional + pe_field::checksum, 0);
    std::size_t resource_directory = optional + pe_field::data_directories + resource_directory_index * 8;
    patch_u32(image_start, resource_directory, layout.resources.virtual_address);
    patch_u32(image_start, resource_directory + 4, layout.resources.virtual_size);
}

void set_subsystem(std::span<unsigned char> image_start, const PeImage& stub, std::uint16_t subsystem) {
    patch_u16(image_start, stub.optional_offset + pe_field::subsystem, subsystem);
}
