#pragma once

#include "resources/byte_writer.hpp"

#include <cstdint>

// Resource type ordinals of the image's resources.
constexpr std::uint16_t rt_icon = 3;
constexpr std::uint16_t rt_group_icon = 14;
constexpr std::uint16_t rt_version = 16;
constexpr std::uint16_t rt_manifest = 24;

// One resource named by ordinals, in the neutral language.
struct ResourceEntry {
    std::uint16_t type = 0;
    std::uint16_t id = 0;
    Bytes data;
};
