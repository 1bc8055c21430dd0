#include "tools/image/stub_check.hpp"

#include "constants/image_descriptor.hpp"
#include "tools/host/tool_error.hpp"
#include "tools/image/descriptor_fields.hpp"
#include "tools/image/pe_layout.hpp"

#include <algorithm>
#include <zlib.h>

namespace {

bool is_power_of_two(std::uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

void require(bool condition, const char* fault) {
    if (!condition) {
        throw ToolError(fault);
    }
}

} // namespace

CheckedStub check_stub(std::span<const unsigned char> bytes) {
    CheckedStub stub;
    stub.bytes = bytes;
    stub.pe = parse_pe_image(bytes);
    const PeImage& pe = stub.pe;
    require(pe.machine == machine_amd64 && pe.optional_magic == pe32_plus_magic,
            "not a PE32+ image for x86-64");
    require(is_power_of_two(pe.section_alignment) && pe.section_alignment % file_page_size == 0 &&
                is_power_of_two(pe.file_alignment) && file_page_size % pe.file_alignment == 0,
            "its section or file alignment is not one talvik can lay out");
    require(pe.data_directories.size() > certificate_directory_index, "it has too few data directories");
    require(pe.data_directories[resource_directory_index].size == 0 &&
                pe.data_directories[certificate_directory_index].size == 0,
            "it already has resources or a signature");
    require(!pe.sections.empty(), "it has no sections");

    std::uint64_t headers_needed = pe.section_table_offset + (pe.sections.size() + 2) * section_header_size;
    std::uint64_t first_raw = bytes.size();
    std::uint64_t file_end = pe.size_of_headers;
    std::uint64_t previous_end = 0;
    for (const PeSection& section : pe.sections) {
        require(section.name != data_section_name && section.name != resource_section_name,
                "it already has a section of a name talvik adds");
        require(section.virtual_address >= previous_end, "its sections are not in address order");
        previous_end = std::uint64_t{section.virtual_address} + section.virtual_size;
        if (section.raw_size > 0) {
            first_raw = std::min<std::uint64_t>(first_raw, section.raw_pointer);
            file_end =
                std::max<std::uint64_t>(file_end, std::uint64_t{section.raw_pointer} + section.raw_size);
        }
    }
    require(previous_end <= pe.size_of_image, "its last section reaches past SizeOfImage");
    require(headers_needed <= pe.size_of_headers && pe.size_of_headers <= first_raw,
            "its headers have no room for two more section headers");
    require(file_end == bytes.size(), "the file does not end with its last section");

    std::vector<std::size_t> descriptors = find_image_descriptors(bytes, pe);
    require(descriptors.size() == 1, "it does not hold exactly one image descriptor");
    stub.descriptor_offset = descriptors.front();
    auto fields = bytes.subspan(stub.descriptor_offset + sizeof image_descriptor_marker,
                                sizeof(ImageDescriptor) - sizeof image_descriptor_marker);
    require(std::all_of(fields.begin(), fields.end(), [](unsigned char byte) { return byte == 0; }),
            "its image descriptor is not empty");
    return stub;
}

std::uint32_t stub_checksum(std::span<const unsigned char> bytes) {
    // A stub is far below the 4 GiB that zlib's length type can count.
    return static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}
