#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

struct PeSection {
    std::string name;
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_pointer = 0;
    std::uint32_t raw_size = 0;
    std::uint32_t characteristics = 0;
};

struct PeDataDirectory {
    std::uint32_t virtual_address = 0;
    std::uint32_t size = 0;
};

// What talvik reads of a PE image: the header fields it checks or rewrites, where the
// headers lie in the file, and the section table.
struct PeImage {
    std::size_t pe_offset = 0;       // of the "PE\0\0" signature
    std::size_t optional_offset = 0; // of the optional header
    std::size_t section_table_offset = 0;
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t optional_magic = 0; // 0x20B for PE32+
    std::uint32_t size_of_initialized_data = 0;
    std::uint32_t section_alignment = 0;
    std::uint32_t file_alignment = 0;
    std::uint32_t size_of_image = 0;
    std::uint32_t size_of_headers = 0;
    std::uint32_t checksum = 0;
    std::uint16_t subsystem = 0;
    std::uint16_t dll_characteristics = 0;
    std::uint64_t stack_reserve = 0;
    std::uint64_t stack_commit = 0;
    std::uint64_t heap_reserve = 0;
    std::uint64_t heap_commit = 0;
    std::vector<PeDataDirectory> data_directories;
    std::vector<PeSection> sections;
};

constexpr std::uint16_t pe32_plus_magic = 0x20B;
constexpr std::uint16_t machine_amd64 = 0x8664;
constexpr std::size_t resource_directory_index = 2;
constexpr std::size_t certificate_directory_index = 4;
constexpr std::size_t section_header_size = 40;
// The Subsystem values of a launcher image: a windowed one opens no console window.
constexpr std::uint16_t subsystem_windows_gui = 2;
constexpr std::uint16_t subsystem_windows_console = 3;

// Offsets of the fields talvik rewrites, from the start of a PE32+ optional header, and of
// a section header's fields from the start of that header.
namespace pe_field {
constexpr std::size_t size_of_initialized_data = 8;
constexpr std::size_t size_of_image = 56;
constexpr std::size_t checksum = 64;
constexpr std::size_t subsystem = 68;
constexpr std::size_t data_directories = 112;
constexpr std::size_t number_of_sections = 2; // from the COFF header, after the signature
} // namespace pe_field

// Parses the headers and the section table; throws ToolError when the bytes are no PE
// image or a table reaches past their end.
PeImage parse_pe_image(std::span<const unsigned char> file);

// The file bytes from a virtual address to the end of its section's raw data; empty when
// no section holds the address.
std::span<const unsigned char> pe_bytes_from(std::span<const unsigned char> file, const PeImage& image,
                                             std::uint32_t virtual_address);

// "MZ" at the start and "PE\0\0" where the DOS header's e_lfanew points: how the
// first entry is known to be a Windows executable.
bool has_pe_signature(const std::filesystem::path& file);
