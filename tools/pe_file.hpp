#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct PeSection {
    std::string name;
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_pointer = 0;
    std::uint32_t raw_size = 0;
};

struct PeDataDirectory {
    std::uint32_t virtual_address = 0;
    std::uint32_t size = 0;
};

// What talvik reads of a PE image: the header fields it checks and the section table.
struct PeImage {
    std::uint16_t machine = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t optional_magic = 0; // 0x20B for PE32+
    std::uint16_t subsystem = 0;
    std::uint16_t dll_characteristics = 0;
    std::uint32_t checksum = 0;
    std::uint64_t stack_reserve = 0;
    std::uint64_t stack_commit = 0;
    std::uint64_t heap_reserve = 0;
    std::uint64_t heap_commit = 0;
    std::vector<PeDataDirectory> data_directories;
    std::vector<PeSection> sections;
};

constexpr std::uint16_t pe32_plus_magic = 0x20B;
constexpr std::size_t resource_directory_index = 2;

// Parses the headers and the section table; throws ToolError when the bytes are no PE
// image or a table reaches past their end.
PeImage parse_pe_image(const std::vector<unsigned char>& file);

// The file offset of a virtual address inside a section's raw data, or SIZE_MAX.
std::size_t pe_file_offset(const PeImage& image, std::uint32_t virtual_address);

// "MZ" at the start and "PE\0\0" where the DOS header's e_lfanew points: how the
// first entry is known to be a Windows executable.
bool has_pe_signature(const std::filesystem::path& file);
