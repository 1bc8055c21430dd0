#pragma once

#include "resources/byte_writer.hpp"

#include <cstdint>
#include <vector>

// Resource type ordinals of the image's resources.
constexpr std::uint16_t rt_icon = 3;
constexpr std::uint16_t rt_group_icon = 14;
constexpr std::uint16_t rt_version = 16;
constexpr std::uint16_t rt_manifest = 24;

// Memory flags as resource compilers set them; the image's resource directory does not
// keep them, so they matter only to tools that read the .res file.
constexpr std::uint16_t res_flags_moveable_discardable = 0x1010;
constexpr std::uint16_t res_flags_moveable_pure_discardable = 0x1030;
constexpr std::uint16_t res_flags_moveable_pure = 0x0030;

// One resource named by ordinals, in the neutral language.
struct ResourceEntry {
    std::uint16_t type = 0;
    std::uint16_t id = 0;
    std::uint16_t memory_flags = 0;
    Bytes data;
};

// Size of every entry header: two DWORD sizes, TYPE and NAME as ordinals, then the
// DataVersion, MemoryFlags, LanguageId, Version and Characteristics fields.
constexpr std::uint32_t res_header_size = 32;

// The 32-bit .res file: an empty entry that marks the format, then every entry with its
// data padded to a DWORD boundary.
Bytes write_res_file(const std::vector<ResourceEntry>& entries);
